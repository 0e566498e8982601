#include "host/framework/ReportTask.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <iomanip>

#include "host/framework/ErrorHandler.h"
#include "host/framework/Extension.h"
#include "host/framework/ReportBuilder.h"
#include "host/framework/ReportDocuments.h"
#include "host/platform/Locale.h"

namespace host {

using forms::ControlKind;

void SelectReportDialog::CreateControls() {
    caption = "Report";
    width = 6000;
    height = 2600;
    Add("Label1", ControlKind::Label, "Plexa can write a report of the areas the analysis finds.");
    auto& check = Add("CreateReportCheck", ControlKind::CheckBox, "&Create a report of the result areas");
    check.SetValue(createReport);
    check.onClick = [this] { createReport = Ctl("CreateReportCheck").Value(); };
    Add("BackButton", ControlKind::CommandButton, "< &Back").onClick = [this] {
        result = 2;
        Hide();
    };
    Add("NextButton", ControlKind::CommandButton, "&Finish").onClick = [this] {
        result = 1;
        Hide();
    };
    Add("CancelButton", ControlKind::CommandButton, "Cancel").onClick = [this] {
        result = -1;
        Hide();
    };
    double y = 300;
    for (auto* c : Controls()) {
        c->left = 240;
        c->top = y;
        c->width = 5400;
        c->height = c->Kind() == ControlKind::CommandButton ? 375 : 300;
        y += 420;
    }
    Ctl("BackButton").left = 1440, Ctl("BackButton").top = 1560, Ctl("BackButton").width = 1215;
    Ctl("NextButton").left = 2760, Ctl("NextButton").top = 1560, Ctl("NextButton").width = 1215;
    Ctl("CancelButton").left = 4320, Ctl("CancelButton").top = 1560, Ctl("CancelButton").width = 1215;
}

bool ReportTask::Init(DataManagerPtr dataManager, gis::ApplicationPtr application) {
    dm_ = std::move(dataManager);
    app_ = std::move(application);
    auto ext = FindExtension(app_);
    if (ext && !ext->Setting("Create Report").empty()) createReport_ = IEquals(ext->Setting("Create Report"), "True");
    return dm_ != nullptr;
}

long ReportTask::DoParamSelector() {
    SelectReportDialog page;
    page.createReport = createReport_;
    page.ShowModal();
    createReport_ = page.createReport;
    asked_ = true;
    long r = page.result;
    page.Unload();
    return r;
}

bool ReportTask::SetParam(const std::string& name, Variant& value) {
    if (name == "PropertySet") pageSettings_ = value.As<PropertySet>();
    else if (name == "CreateReport") value = createReport_;
    else if (name == "BoundaryLayer") boundary_ = value.As<gis::FeatureLayer>();
    else if (name == "StoreIDField") storeIdField_ = value.ToString();
    else if (name == "NumberOfRings") rings_ = value.ToLong();
    else if (name == "AreaIDField") areaIdField_ = value.ToString();
    else if (name == "AreaDescField") areaDescField_ = value.ToString();
    else if (name == "Analysis") analysis_ = value.As<Analysis>();
    else return false;
    return true;
}

bool ReportTask::InitFunction() {
    lastError_ = 0;
    if (!boundary_ || !boundary_->featureClass) {
        lastError_ = 47;
        return false;
    }
    return true;
}

namespace {
std::string CsvCell(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos) return s;
    return "\"" + ReplaceAll(s, "\"", "\"\"") + "\"";
}
// Numbers of the table are C numbers, so that any reader of CSV reads them.
std::string CsvValue(const Variant& v) { return v.IsNumber() ? platform::FormatCNumber(v.ToDouble()) : v.ToString(); }
}  // namespace

bool ReportTask::StartFunction() {
    if (!boundary_ || !boundary_->featureClass) {
        lastError_ = 47;
        return false;
    }
    std::string folder = analysis_ ? analysis_->Folder() : "";
    if (folder.empty()) {
        lastError_ = 47;
        return false;
    }
    auto fc = boundary_->featureClass;
    reportCsv = folder + "Report.csv";
    reportText = folder + "Report.txt";
    std::ofstream csv(reportCsv);
    auto fields = fc->GetFields();
    std::vector<long> cols;
    for (long i = 0; i < fields->FieldCount(); ++i)
        if (fields->GetField(i)->type != gis::kFieldGeometry) cols.push_back(i);
    for (size_t k = 0; k < cols.size(); ++k) csv << (k ? "," : "") << CsvCell(fields->GetField(cols[k])->name);
    csv << "\n";
    long count = 0;
    auto cursor = fc->Search(nullptr, true);
    while (auto row = cursor->NextRow()) {
        for (size_t k = 0; k < cols.size(); ++k) csv << (k ? "," : "") << CsvCell(CsvValue(row->Value(cols[k])));
        csv << "\n";
        ++count;
    }
    csv.close();
    std::ofstream txt(reportText);
    auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    txt << "Analysis: " << (analysis_ ? analysis_->Name() : boundary_->name) << "\n";
    txt << "Written:  " << std::put_time(std::localtime(&now), "%Y-%m-%d %H:%M") << "\n";
    txt << "Areas:    " << count << "\n";
    if (pageSettings_) {
        std::vector<std::string> names;
        std::vector<Variant> values;
        pageSettings_->GetAllProperties(names, values);
        for (size_t i = 0; i < names.size(); ++i)
            if (!values[i].IsObject() && (names[i] == "Comments" || names[i] == "DemographyLevelName"))
                txt << names[i] << ": " << values[i].ToString() << "\n";
    }
    bool documents = WriteDocuments(folder);
    if (!documents) txt << "Report:   " << reportError << "\n";
    else txt << "Summary:  " << summary << "\n" << "Report:   " << reportPdf << "\n";
    txt << "Table:    " << reportCsv << "\n";
    if (!csv || !txt || !documents) {
        lastError_ = 47;
        return false;
    }
    return true;
}

report::ReportInputs ReportTask::Inputs() const {
    auto ext = FindExtension(app_);
    auto in = dm_ ? report::AnalysisReportInputs(*dm_, ext.get(), analysis_, pageSettings_) : report::ReportInputs{};
    in.result = boundary_;
    return in;
}

bool ReportTask::WriteDocuments(const std::string& folder) {
    reportPdf = folder + "Report.pdf";
    reportHtml = folder + "Report.html";
    reportError.clear();
    try {
        content = report::BuildReportContent(Inputs());
        summary = content.SummarySentence();
        report::WriteReportPdf(content, reportPdf);
        report::WriteReportHtml(content, reportHtml);
        return true;
    } catch (const std::exception& e) {
        reportError = e.what();
    } catch (...) {
        reportError = "the report could not be made";
    }
    NewErrorHandler()->Report("IPXTask_StartFunction PXReports\\PXSelectReportTask.cls", 47, "PXReports", reportError);
    return false;
}

}  // namespace host
