// "PXCP.PXCPHouseholdDataFunction": sends the household query with the list
// of areas to the household-data service, follows the job, joins the
// service's counts (or a linked table) to the geography polygons and keeps
// the areas above the minimum. Without waiting it writes the requested
// areas and reports the job id.
#pragma once

#include <memory>
#include <unordered_map>

#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"

namespace pxcp {

class HouseholdDataClient;

class PXCPHouseholdDataFunction : public host::IPXFunction {
public:
    PXCPHouseholdDataFunction();
    ~PXCPHouseholdDataFunction() override;
    std::string TypeName() const override { return "PXCPHouseholdDataFunction"; }

    bool Start() override;
    bool DoStep() override;
    long LastError() override { return lastError_; }
    long Status() override { return status_; }
    void Cleanup() override;
    bool Init() override;
    bool SetResultParam(const std::string& name, host::Variant& value) override;
    bool SetParam(const std::string& name, host::Variant& value) override;

    // The join filter: the geography where-clause prefix, object id and shape.
    bool PrepareQueryFilter();

    // What went wrong, in words, when LastError is not 0.
    const std::string& ErrorText() const { return errorText_; }
    long Written() const { return written_; }
    int16_t StepNumber() const { return step_; }

private:
    bool Fail(long code, const std::string& text);
    bool BuildAreaKeyList(std::string& list);
    bool GetDBFFromQuillon(const std::string& areaList);
    bool PollService();
    bool CheckResultTable();
    std::string KeyField() const;
    bool CreateResultFeatureClass(bool pending);
    bool OpenJoinCursors();
    bool IndexAreas();
    void ReadAreasAhead();
    std::string AreaKey(const std::string& key) const;
    struct Counts {
        long read = 0, total = 0;
        double percent = 0;
        bool kept = false;
    };
    Counts CountsOf(const host::gis::Row& row) const;
    bool JoinNextRow();
    bool OpenPendingCursors();
    bool WritePendingRow();
    void FinishOutput();
    host::gis::QueryFilter AreaFilter() const;

    // Parameters.
    std::string datasetName_, analysisFeatureclassName_, analysisDir_, geogField_, datasetId_, qFields_, qList_;
    std::string userName_, password_, mainLayerName_, analysisName_, dbfFilePath_, keyFieldParam_;
    host::gis::WorkspacePtr analysisWorkspace_;
    bool isNumberTarget_ = true, wait_ = true, linkDbf_ = false;
    double minimumTarget_ = 0;
    host::gis::FeatureClassPtr mainFeatureClass_;
    host::gis::GeometryPtr boundingGeometry_;
    host::gis::SpatialReferencePtr defaultSR_;

    // Run state.
    int16_t step_ = 0;
    long lastError_ = 0, status_ = 1, written_ = 0;
    std::string errorText_, resultDbfPath_, jobId_;
    std::unique_ptr<HouseholdDataClient> client_;
    // The analyst cancelled while a request was under way: the next step
    // lets the runner see the cancel instead of reporting a failure.
    bool requestCancelled_ = false;
    host::gis::TablePtr resultTable_;
    host::gis::CursorPtr rowCursor_;
    host::gis::RowPtr currentRow_;
    long joinRows_ = 0, joined_ = 0;  // rows of the result table, and how many were joined
    host::gis::FeatureClassPtr output_;
    host::gis::InsertCursorPtr insert_;
    host::gis::RowPtr buffer_;
    long keyPos_ = -1, totReadPos_ = -1, totalPos_ = -1, percentPos_ = -1;
    long keyColumn_ = -1, readColumn_ = -1, matchColumn_ = -1, pendingKey_ = -1;
    std::unique_ptr<host::gis::QueryFilter> joinFilter_;
    std::string prefix_, joinKeyField_;
    // The areas by key, read once per run: each row of the counts then
    // finds its area without a search of its own. Keys compare as the
    // where-clause "KEY = 'value'" would: numbers by value, texts without
    // regard to case; the first area of a key wins.
    std::unordered_map<std::string, long> areaIndex_;
    bool numericKey_ = false;
    // Shapes of the areas the output takes, read in one pass over the
    // polygons when the output takes many of them; else each is read by
    // its id when its row comes.
    std::unordered_map<long, host::gis::RowPtr> areasAhead_;
    bool readAhead_ = false;
    host::ErrorHandlerPtr errorHandler_;
};

}  // namespace pxcp
