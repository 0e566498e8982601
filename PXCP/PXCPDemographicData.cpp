#include "PXCP/PXCPDemographicData.h"

#include <filesystem>

#include "CustomerProfile/CustomerProfileDialog.h"
#include "PXAnalysis/WorkspaceUtils.h"
#include "PXCP/PXAnalysisUtils.h"
#include "host/forms/Forms.h"
#include "i18n/modi18N.h"
#include "pages/SelectDemographicDataDialog.h"
#include "pages/SmallPages.h"

namespace pxcp {

using namespace host;

namespace {

// What the worker's outcome codes mean to the analyst.
std::string WorkerMessage(long code) {
    switch (code) {
        case 5: return "The output feature class could not be created.";
        case 9: return "A field of the query or an additional field is missing in the demographic layer.";
        case 11: return "No application was given to the analysis.";
        case 12: return "No data manager was given to the analysis.";
        case 35: return "No area matches the query.";
        case 47: return "The demographic layer could not be searched.";
        default: return "The analysis failed.";
    }
}
}  // namespace

PXCPDemographicData::PXCPDemographicData()
    : ProspectingSubTask("PXCP\\PXCPDemographicData.cls", "PXCP.PXCPDemographicDataFunction") {}

bool PXCPDemographicData::SetParam(const std::string& name, Variant& value) {
    PX_TRY
    if (!SetSharedParam(name, value) && name == "AdditionalFieldsCol") value.AssignTo(additionalFieldsCol_);
    PX_CATCH(errorHandler_, Loc("IPXTask_SetParam"))
    return true;
}

std::string PXCPDemographicData::WorkerErrorText(long code) { return WorkerMessage(code); }

long PXCPDemographicData::ShowSelectDemographicDataDialog() {
    dataDialog_ = std::make_shared<SelectDemographicDataDialog>();
    auto& page = *dataDialog_;
    page.mainTask = mainTask_;
    page.businessDataset = businessDataset_;
    page.dataManager = dataManager_;
    page.application = application_;
    page.profileDialog = nullptr;
    page.sourceAnalysis = sourceAnalysis_;
    page.pageSettings = pageSettings_;
    page.ReadFromPropertySet(pageSettings_);
    page.InitializeDialog();
    long result;
    do {
        result = ShowOnce(page);
        if (result == 2) return 2;
        if (result == 1) {
            queryString_ = page.whereClause;
            allFieldsCol_ = page.fieldCollection;
            allFields_.clear();
            if (additionalFieldsCol_)
                for (auto& f : additionalFieldsCol_->Items()) allFields_ += f + ",";
            allFields_ += page.fieldList;
            result = ShowSelectAnalysisNameDialog();
        } else if (page.profileDialog && page.profileDialog->m_bNewProfilePushed) {
            page.profileDialog->m_bNewProfilePushed = false;
            result = 2;
            ProcessProfileFunction(*page.profileDialog);
        }
    } while (result == 2);
    return result;
}

void PXCPDemographicData::ProcessProfileFunction(CustomerProfileDialog& dialog) {
    IPXFunctionPtr profile;
    try {
        profile = CreateObjectAs<IPXFunction>("PXCP.PXCPProfileFunction");
    } catch (const std::exception&) {
        ResMsgBox(259, forms::vbCritical);
        return;
    }
    PX_TRY
    auto pass = [&](const char* key, Variant v) { profile->SetParam(key, v); };
    pass("DataManager", dataManager_);
    pass("Application", application_);
    pass("CustomerLayer", dialog.m_pCustomerDataset ? Variant(dialog.m_pCustomerDataset) : Variant(nullptr));
    pass("SelectedOnly", dialog.m_bSelected);
    pass("CustomerProspectingTask", dialog.mainTask);
    pass("ParamsCollection", dialog.m_pStateCol);
    pass("YearIndex", dialog.m_nYearIndex);
    pass("DemogrLayerID", dialog.m_sLayerID);
    pass("DataQueryObject", dialog.m_pDataQuery ? Variant(dialog.m_pDataQuery) : Variant(nullptr));
    pass("CharacteristicsGrid", dialog.shared_from_this());  // the grid lives on the dialog
    if (!profile->Init()) return;
    long code = FunctionRunner().Run(*profile, "Clock AVI", "Analysis", "Executing analysis...");
    if (code == FunctionRunner::kCompleted && profile->LastError() == 0) return;
    long error = profile->LastError();
    Raise(error ? error : 47, code == FunctionRunner::kCancelled ? "The customer profile was cancelled."
                                                                 : "The customer profile could not be computed.");
    PX_CATCH(errorHandler_, Loc("ProcessProfileFunction"))
}

bool PXCPDemographicData::InitFunction() {
    bool ok = false;
    PX_TRY
    if (!function_) {
        status_ = 1;
        lastError_ = 0;
        return true;
    }
    ok = function_->Init();
    if (!TakeAnalysisName(255) || NameIsTaken(255)) return false;
    if (ReplacesSourceAnalysis()) {
        if (auto old = KeepSourceAnalysisAside()) DeleteAnalysisOutput(old->OutputPath(), application_);
        RemoveSourceAnalysis();
    }
    analysisInfo_ = dataManager_->CreateAnalysis(analysisName_);
    analysisInfo_->SetProperty("DMQFileFullPath", analysisInfo_->Folder() + "AnalysisParams.dmq");
    dataDialog_->SaveDMQFile(analysisInfo_->GetProperty("DMQFileFullPath").ToString());
    if (dataDialog_->profileDialog && pageSettings_) {
        // The analysis keeps its own copy of the profile it was made with.
        std::string from = pageSettings_->GetProperty("ProfilingFileFullPath").ToString();
        std::string to = analysisInfo_->Folder() + "ProfilingParams.cpf";
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
        pageSettings_->SetProperty("ProfilingFileFullPath", to);
    }
    OpenAnalysisOutput();
    auto pass = [&](const char* key, Variant v) { ok = function_->SetParam(key, v) && ok; };
    if (analysisWorkspace_) pass("AnalysisWorkspace", analysisWorkspace_);
    pass("IApplication", application_);
    pass("IPXDataManager", dataManager_);
    pass("AnalysisFeatureclassName", analysisFeatureclassName_);
    pass("QueryString", queryString_);
    pass("AllFields", allFields_);
    pass("AllFieldsCol", allFieldsCol_ ? Variant(allFieldsCol_) : Variant(nullptr));
    pass("AdditionalFields", additionalFieldsCol_ ? Variant(additionalFieldsCol_) : Variant(nullptr));
    pass("MainDSLayer", mainDSLayer_ ? Variant(mainDSLayer_) : Variant(nullptr));
    pass("DefaultSR", GetDefaultSpatialReference(application_));
    if (pageSettings_) {
        pageSettings_->RemoveProperty("DMQFileFullPath");
        KeepAnalysisSettings("ID", GetPXExtension(application_));
    }
    status_ = 1;
    lastError_ = 0;
    PX_CATCH(errorHandler_, Loc("IPXTask_InitFunction"))
    return ok;
}

gis::RendererPtr PXCPDemographicData::CreateSimpleRenderer() {
    auto r = std::make_shared<gis::SimpleRenderer>();
    r->fill = gis::Rgb::FromPacked(65280);
    r->outlineWidth = 0.1;
    r->label = "Match";
    return r;
}

bool PXCPDemographicData::StartFunction() {
    bool r = false;
    PX_TRY
    if (!function_) return true;
    if (RunWorker()) {
        gis::FeatureClassPtr fc = OpenOutput();
        if (!fc) {
            dataManager_->RemoveAnalysis(analysisName_);
            lastError_ = 47;
            return true;
        }
        auto layer = std::make_shared<gis::FeatureLayer>();
        layer->featureClass = fc;
        layer->renderer = CreateSimpleRenderer();
        layer->name = analysisName_;
        AddAnalysisLayer(application_, layer);
        resultLayer = layer;
        RegisterOutput("ID");
        return true;
    }
    r = true;
    PX_CATCH(errorHandler_, Loc("IPXTask_StartFunction"))
    return r;
}

}  // namespace pxcp
