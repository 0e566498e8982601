// "PXCP.PXCPHouseholdData": the household way. Runs the open-way, login,
// household data and name pages, creates the analysis, runs the worker and
// adds the output in five classes of PERCENT (or, for a job that was not
// waited for, in one colour, telling the analyst the job id).
#pragma once

#include "PXCP/ProspectingSubTask.h"

namespace pxcp {

class SelectHouseholdDataDialog;

class PXCPHouseholdData : public ProspectingSubTask {
public:
    PXCPHouseholdData();
    std::string TypeName() const override { return "PXCPHouseholdData"; }

    bool StartFunction() override;
    bool InitFunction() override;
    bool SetParam(const std::string& name, host::Variant& value) override;

    static host::gis::RendererPtr CreateSimpleRenderer();
    // Five classes of the field at that position, from the gallery's ramp
    // or the default green one.
    static host::gis::RendererPtr CreateRenderer(const host::gis::FeatureClassPtr& featureClass, long fieldPosition);

    // What the last run left, for the host's inspection.
    std::string jobId;
    std::string errorText;

protected:
    long ShowPages() override { return sourceAnalysis_ ? ShowSelectOpenHHWay() : ShowLoginToQuillonDialog(); }
    // Also kept as errorText: the worker's own words when it has them.
    std::string WorkerErrorText(long code) override;

private:
    long ShowSelectOpenHHWay();
    long ShowLoginToQuillonDialog();
    long ShowSelectHouseholdDataDialog();
    void MakeDataDialog();
    void AddResultLayer();

    std::string geogField_, qFields_, qList_, userName_, password_;
    bool isNumberTarget_ = true, wait_ = true, changeQuery_ = true;
    double minimumTarget_ = 0;
    std::string dbfFilePath_;
    std::shared_ptr<SelectHouseholdDataDialog> dataDialog_;
    host::gis::FeatureClassPtr resultFeatureClass_;
};

}  // namespace pxcp
