// "PXReports.PXSelectReportTask": the host's report task. Its page asks
// whether a report is wanted; its run writes the report of the output areas
// into the analysis folder: a CSV table, a short text summary, and the
// report itself as a PDF document and an HTML file (see ReportContent.h).
#pragma once

#include "host/forms/Forms.h"
#include "host/framework/Framework.h"
#include "host/framework/ReportBuilder.h"
#include "host/framework/ReportContent.h"

namespace host {

class SelectReportDialog : public forms::Form {
public:
    SelectReportDialog() : Form("SelectReportDialog") {}
    int result = -1;
    bool createReport = true;

protected:
    void CreateControls() override;
};

class ReportTask : public IPXTask {
public:
    std::string TypeName() const override { return "PXSelectReportTask"; }
    long LastError() override { return lastError_; }
    long Status() override { return 1; }
    ObjectPtr PXParamSelector() override { return nullptr; }
    IPXFunctionPtr PXFunction() override { return nullptr; }
    void Cleanup() override {}
    void Break() override {}
    bool StartFunction() override;
    long DoParamSelector() override;
    bool InitFunction() override;
    bool InitParamSelector() override { return true; }
    bool Init(DataManagerPtr dataManager, gis::ApplicationPtr application) override;
    bool SetParam(const std::string& name, Variant& value) override;

    // Files written by the last run, and what its report said.
    std::string reportCsv, reportText, reportPdf, reportHtml;
    report::ReportContent content;
    std::string summary;
    std::string reportError;  // why the documents were not written

private:
    report::ReportInputs Inputs() const;
    bool WriteDocuments(const std::string& folder);

    DataManagerPtr dm_;
    gis::ApplicationPtr app_;
    PropertySetPtr pageSettings_;
    bool createReport_ = true;
    bool asked_ = false;
    gis::FeatureLayerPtr boundary_;
    std::string storeIdField_, areaIdField_, areaDescField_;
    long rings_ = 1;
    AnalysisPtr analysis_;
    long lastError_ = 0;
};

}  // namespace host
