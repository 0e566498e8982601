// "PXCP.PXCPProfileFunction": the average customer profile. Each customer
// counts the demographic values of the area its point lies in; percentage
// characteristics are averaged as percentages of their base.
#pragma once

#include <functional>
#include <optional>
#include <set>

#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"
#include "host/gis/PointIndex.h"

namespace pxcp {

class PXCPProfileFunction : public host::IPXFunction {
public:
    PXCPProfileFunction();
    ~PXCPProfileFunction() override;
    std::string TypeName() const override { return "PXCPProfileFunction"; }

    bool Start() override { return true; }
    bool DoStep() override;
    long LastError() override { return lastError_; }
    long Status() override { return status_; }
    void Cleanup() override;
    bool Init() override;
    bool SetResultParam(const std::string&, host::Variant&) override { return true; }
    bool SetParam(const std::string& name, host::Variant& value) override;

    host::gis::ApplicationPtr m_pApp;

    // After a run: the customers read (of the selection, when only the
    // selected count) and how many of them lie in at least one area read.
    long CustomersRead() const { return customersRead_; }
    long CustomersInside() const { return customersInside_; }
    // After a run: the average of the characteristic row at a position
    // (1-based) before it was rounded to one decimal; empty for a row that
    // was not profiled.
    std::optional<double> ExactAverage(long row) const;

private:
    void InitSpatialFilter();
    bool PrepareProfile();
    bool ProcessNextArea();
    // Counts the customers in the area prepared in polygon_ into the
    // statistics; value(field) reads one of the area's numbers.
    void CountArea(long oid, const std::function<std::optional<double>(long field, size_t column)>& value);
    void StoreProfileValues();
    // An area for a message: its name and key, or its object id.
    std::string AreaName(long oid) const;
    bool IsCustomer(long oid) const { return !selectedOnly_ || selection_.count(oid) > 0; }

    host::gis::FeatureLayerPtr customerLayer_;
    bool selectedOnly_ = false;
    host::TaskEntryPtr mainTask_;
    int16_t yearIndex_ = 0;
    host::DataQueryPtr dataQuery_;
    host::ObjectPtr characteristicsGrid_;
    host::CollectionPtr paramsCollection_;
    std::string demogrLayerID_;
    long lastError_ = 0;
    long status_ = 1;
    int16_t step_ = 0;
    host::CollectionPtr statistics_;
    host::gis::CursorPtr areaCursor_;
    std::set<long> selection_;
    // The customers in the demographic layer's coordinates, tagged 1 when
    // within the analysis extent, and the running sums per statistic.
    std::unique_ptr<host::gis::PointGrid> customerGrid_;
    // An area whose values cannot be averaged (no count, or a positive
    // count over a base of 0 or none) stops its characteristic: the row
    // keeps its earlier value and gets the reason under "Reason".
    struct Accumulator {
        long field, percField;
        size_t column, percColumn;  // of the fields the shapefile reader reads
        double counter, total;
        std::string fieldName, baseName;
        long failedAreas = 0;
        std::string failure;  // what the first such area lacked
    };
    std::vector<Accumulator> accumulators_;
    // The areas: read straight from a polygon shapefile when they are one,
    // else through areaCursor_; visit_ is the box they are searched with.
    std::unique_ptr<host::gis::ShapefilePolygons> polygons_;
    host::gis::PreparedPolygon polygon_;
    host::gis::Envelope visit_;
    std::vector<bool> inside_;  // by grid position
    long customersRead_ = 0, customersInside_ = 0;
    bool stored_ = false;  // step 4 has run
    host::ErrorHandlerPtr errorHandler_;
};

// "PXCP.PXCPProFileDataContainer".
class PXCPProFileDataContainer : public host::IPXCustDataContainer {
public:
    std::string TypeName() const override { return "PXCPProFileDataContainer"; }
    void Shutdown() override {}
};

}  // namespace pxcp
