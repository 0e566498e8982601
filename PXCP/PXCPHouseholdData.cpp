#include "PXCP/PXCPHouseholdData.h"

#include <unistd.h>

#include <filesystem>

#include "PXAnalysis/WorkspaceUtils.h"
#include "PXCP/PXAnalysisUtils.h"
#include "PXCP/PXCPHouseholdDataFunction.h"
#include "host/forms/Forms.h"
#include "host/platform/Locale.h"
#include "i18n/modi18N.h"
#include "pages/LoginToQuillonDialog.h"
#include "pages/SelectHouseholdDataDialog.h"
#include "pages/SelectOpenHHWayDialog.h"
#include "pages/SmallPages.h"

namespace fs = std::filesystem;

namespace pxcp {

using namespace host;

namespace {

// "##0.0##": at least one decimal, at most three, in the user's locale.
std::string FormatBound(double v) {
    std::string s = platform::FormatCFixed(v, 3);
    while (s.size() > 1 && s.back() == '0' && s[s.size() - 2] != '.') s.pop_back();
    for (char& c : s)
        if (c == '.') c = platform::CurrentLocale().decimalSeparator;
    return s;
}

std::string WorkerMessage(long code) {
    switch (code) {
        case 8: return "The result table or the geography layer is missing.";
        case 9: return "The state-level result table lacks STATE_ID or GEOG.";
        case 34: return "The household-data service refused the request.";
        case 35: return "No area is above the minimum.";
        case 44: return "The household-data service's result table could not be opened.";
        default: return "The household analysis failed.";
    }
}
}  // namespace

PXCPHouseholdData::PXCPHouseholdData()
    : ProspectingSubTask("PXCP\\PXCPHouseholdData.cls", "PXCP.PXCPHouseholdDataFunction") {}

bool PXCPHouseholdData::SetParam(const std::string& name, Variant& value) {
    PX_TRY
    // The main task hands every sub-task its additional fields; the
    // household output has fixed fields.
    if (!SetSharedParam(name, value) && name != "AdditionalFieldsCol") return false;
    PX_CATCH(errorHandler_, Loc("IPXTask_SetParam"))
    return true;
}

std::string PXCPHouseholdData::WorkerErrorText(long code) {
    auto* worker = dynamic_cast<PXCPHouseholdDataFunction*>(function_.get());
    errorText = worker && !worker->ErrorText().empty() ? worker->ErrorText() : WorkerMessage(code);
    return errorText;
}

long PXCPHouseholdData::ShowSelectOpenHHWay() {
    SelectOpenHHWayDialog page;
    page.dataManager = dataManager_;
    page.extension = GetPXExtension(application_);
    page.sourceAnalysisFolder = sourceAnalysis_->Folder();
    page.ReadFromPropertySet(pageSettings_);
    page.InitializeDialog();
    long result;
    for (;;) {
        result = ShowOnce(page);
        if (result != 1) break;
        changeQuery_ = page.Ctl("ChangeQueryRBT").Value();
        if (changeQuery_) {
            result = ShowLoginToQuillonDialog();
            if (result == 2) continue;
            break;
        }
        // Linking a table: no pages of the query, the analysis keeps its
        // name and description, and the report page ends the wizard.
        dbfFilePath_ = page.Ctl("DBFFileText").Text();
        wait_ = true;
        analysisName_ = sourceAnalysis_->Name();
        analysisDescription_ = sourceAnalysis_->GetProperty("Comments").ToString();
        try {
            Variant ps(pageSettings_);
            reportTask_->SetParam("PropertySet", ps);
        } catch (...) {
            ReportException(errorHandler_, Loc("ShowSelectOpenHHWay"));
            page.Unload();
            return 1;
        }
        result = ShowReportPage();
        break;
    }
    page.Unload();
    return result;
}

long PXCPHouseholdData::ShowLoginToQuillonDialog() {
    LoginToQuillonDialog page;
    page.businessDataset = businessDataset_;
    page.ReadFromPropertySet(pageSettings_);
    page.InitializeDialog();
    long result;
    do {
        result = ShowOnce(page);
        if (result != 1) break;
        userName_ = page.m_sUserName;
        password_ = page.m_sPassword;
        result = ShowSelectHouseholdDataDialog();
    } while (result == 2);
    page.Unload();
    return result;
}

void PXCPHouseholdData::MakeDataDialog() {
    if (!dataDialog_) {
        dataDialog_ = std::make_shared<SelectHouseholdDataDialog>();
        auto& page = *dataDialog_;
        page.mainTask = mainTask_;
        page.application = application_;
        page.dataManager = dataManager_;
        page.sourceAnalysis = sourceAnalysis_;
        page.businessDataset = businessDataset_;
        page.mainLayerName = mainLayerName_;
        page.studyAreaDataset = businessDataset_ ? businessDataset_->name : "";
        page.ReadFromPropertySet(pageSettings_);
    }
}

long PXCPHouseholdData::ShowSelectHouseholdDataDialog() {
    MakeDataDialog();
    auto& page = *dataDialog_;
    page.InitializeDialog();
    long result;
    do {
        result = ShowOnce(page);
        if (result != 1) break;
        geogField_ = page.geogField;
        qFields_ = page.qFields;
        qList_ = page.qList;
        isNumberTarget_ = page.Ctl("NumberOption").Value();
        minimumTarget_ = platform::ParseLocaleNumber(page.Ctl("MinimumTargetText").Text()).value_or(0);
        wait_ = page.Ctl("WaitOption").Value();
        result = ShowSelectAnalysisNameDialog();
    } while (result == 2);
    return result;
}

bool PXCPHouseholdData::InitFunction() {
    bool ok = false;
    PX_TRY
    if (!function_) {
        status_ = 1;
        lastError_ = 0;
        return false;
    }
    ok = function_->Init();
    auto info = CreateObjectAs<FileInfo>("PXDM.PXFileInfo");
    if (!TakeAnalysisName(261) || NameIsTaken(261)) return false;
    std::string oldFolder, savedDbf;
    if (ReplacesSourceAnalysis()) {
        auto old = KeepSourceAnalysisAside();
        oldFolder = old ? old->Folder() : sourceAnalysis_->Folder();
        if (old) DeleteAnalysisOutput(old->OutputPath(), application_);
        if (!dbfFilePath_.empty()) {
            info->SetPath(dbfFilePath_);
            if (fs::path(info->Folder()) == fs::path(oldFolder) && fs::exists(dbfFilePath_)) {
                // The linked table lives in the folder about to go: keep a
                // copy (one of this process's own: others may share the folder).
                savedDbf = dataManager_->WorkingPath() + "-" + std::to_string(getpid()) + ".dbf";
                fs::copy_file(dbfFilePath_, savedDbf, fs::copy_options::overwrite_existing);
            }
        }
        RemoveSourceAnalysis();
    }
    analysisInfo_ = dataManager_->CreateAnalysis(analysisName_);
    std::string folder = analysisInfo_->Folder();
    analysisInfo_->SetProperty("HHQFileFullPath", folder + "AnalysisParams.hhq");
    if (dataDialog_) dataDialog_->SaveHHQFile(folder + "AnalysisParams.hhq");
    auto pass = [&](const char* key, Variant v) { ok = function_->SetParam(key, v) && ok; };
    if (!dbfFilePath_.empty()) {
        if (!savedDbf.empty()) {
            fs::create_directories(fs::path(dbfFilePath_).parent_path());
            fs::copy_file(savedDbf, dbfFilePath_, fs::copy_options::overwrite_existing);
            fs::remove(savedDbf);
        }
        pass("LinkDBF", true);
        pass("DBFFilePath", dbfFilePath_);
    } else {
        pass("LinkDBF", false);
    }
    OpenAnalysisOutput();
    if (analysisWorkspace_) pass("AnalysisWorkspace", analysisWorkspace_);
    auto ext = GetPXExtension(application_);
    std::string datasetName = ext ? ext->CurrentDatasetName() : "";
    gis::FeatureClassPtr mainFc;
    try {
        if (ext && mainDSLayer_) mainFc = ext->GetDataWorkspace()->OpenFeatureClass(mainDSLayer_->datasetName);
    } catch (...) {
        ReportException(errorHandler_, Loc("IPXTask_InitFunction"));
    }
    pass("DatasetName", datasetName);
    pass("AnalysisFeatureclassName", analysisFeatureclassName_);
    pass("AnalysisDir", folder);
    pass("GeogField", geogField_);
    pass("DatasetID", businessDataset_ ? businessDataset_->name : datasetName);
    pass("QFields", qFields_);
    pass("QList", qList_);
    pass("UserName", userName_);
    pass("Password", password_);
    pass("IsNumberTarget", isNumberTarget_);
    pass("MinimumTarget", minimumTarget_);
    pass("Wait", wait_);
    pass("MainLayerName", mainLayerName_);
    pass("MainFeatureClass", mainFc ? Variant(mainFc) : Variant(nullptr));
    pass("AnalysisName", analysisName_);
    pass("DefaultSR", GetDefaultSpatialReference(application_));
    pass("BoundingGeometry", ext && ext->BoundingGeometry() ? Variant(ext->BoundingGeometry()) : Variant(nullptr));
    // Our datasets name their key field in the configuration.
    pass("KeyField", mainDSLayer_ ? mainDSLayer_->idField : std::string());
    if (pageSettings_) {
        if (!wait_ || changeQuery_) pageSettings_->SetProperty("DBFFilePath", std::string());
        pageSettings_->RemoveProperty("HHQFileFullPath");
        KeepAnalysisSettings("KEY", ext);
    }
    status_ = 1;
    lastError_ = 0;
    PX_CATCH(errorHandler_, Loc("IPXTask_InitFunction"))
    return ok;
}

gis::RendererPtr PXCPHouseholdData::CreateSimpleRenderer() {
    auto r = std::make_shared<gis::SimpleRenderer>();
    r->fill = {0, 255, 0};
    r->outlineWidth = 0.1;
    r->label = "Requested area";
    return r;
}

gis::RendererPtr PXCPHouseholdData::CreateRenderer(const gis::FeatureClassPtr& featureClass, long fieldPosition) {
    auto r = std::make_shared<gis::ClassBreaksRenderer>();
    r->field = "PERCENT";
    std::vector<double> values;
    if (featureClass && fieldPosition >= 0) {
        gis::QueryFilter f;
        f.subFields = "PERCENT";
        auto c = featureClass->Search(&f, true);
        while (auto row = c->NextRow()) {
            Variant v = row->Value(fieldPosition);
            if (!v.IsEmpty()) values.push_back(v.ToDouble());
        }
    }
    r->breaks = gis::QuantileBreaks(values, 5);
    r->minimum = values.empty() ? 0 : *std::min_element(values.begin(), values.end());
    // The default ramp is made first and used whenever the gallery has no ramp of that name.
    std::vector<gis::Rgb> ramp = gis::AlgorithmicRamp({230, 254, 230}, {23, 118, 21}, 6);
    if (auto* named = gis::StyleGallery::Instance().FindColorRamp("PX Customer Prospecting Ramp")) ramp = *named;
    for (size_t i = 0; i < r->breaks.size(); ++i) {
        // Spread the classes over the whole ramp, light to dark.
        size_t at = r->breaks.size() > 1 ? (i * (ramp.size() - 1)) / (r->breaks.size() - 1) : ramp.size() - 1;
        r->colors.push_back(ramp[std::min(at, ramp.size() - 1)]);
        double lower = i == 0 ? r->minimum : r->breaks[i - 1];
        r->labels.push_back(FormatBound(lower) + " - " + FormatBound(r->breaks[i]) + " %");
    }
    return r;
}

void PXCPHouseholdData::AddResultLayer() {
    auto layer = std::make_shared<gis::FeatureLayer>();
    layer->featureClass = resultFeatureClass_;
    layer->name = analysisName_;
    if (!layer->featureClass) {
        lastError_ = 23;
        return;
    }
    long percent = resultFeatureClass_->FindField("PERCENT");
    layer->renderer = wait_ ? CreateRenderer(resultFeatureClass_, percent) : CreateSimpleRenderer();
    AddAnalysisLayer(application_, layer);
    resultLayer = layer;
}

bool PXCPHouseholdData::StartFunction() {
    PX_TRY
    if (!function_) return false;
    if (RunWorker()) {
        if (!wait_) {
            Variant id;
            function_->SetResultParam("JobID", id);
            jobId = id.ToString();
            forms::MsgBox(FindString(262) + jobId + "\r\n" + FindString(263) + "\r\n" + FindString(266) + "\r\n" +
                              FindString(267),
                          forms::vbInformation, FindString(268));
        }
        dataManager_->Refresh();
        resultFeatureClass_ = OpenOutput();
        if (resultFeatureClass_) {
            AddResultLayer();
            RegisterOutput("KEY");
        }
    }
    PX_CATCH(errorHandler_, Loc("IPXTask_StartFunction"))
    return true;
}

}  // namespace pxcp
