#include "PXCP/PXCPMain.h"

#include "PXCP/PXAnalysisUtils.h"
#include "pages/SelectGeographyLevelDialog.h"

namespace pxcp {

using namespace host;

namespace {
const host::ErrorLocation Loc("PXCP\\PXCPMain.cls");
}  // namespace

PXCPMain::PXCPMain() {
    PX_TRY
    errorHandler_ = NewErrorHandler();
    status_ = 1;
    lastError_ = 0;
    PX_CATCH(errorHandler_, Loc("Class_Initialize"))
}

PXCPMain::~PXCPMain() {
    PX_TRY
    Cleanup();
    dataManager_.reset();
    application_.reset();
    PX_CATCH(errorHandler_, Loc("Class_Terminate"))
}

long PXCPMain::LastError() {
    long r = 0;
    PX_TRY
    r = (subTask_ && lastError_ == 0) ? subTask_->LastError() : lastError_;
    PX_CATCH(errorHandler_, Loc("IPXTask_LastError"))
    return r;
}

long PXCPMain::Status() {
    long r = 0;
    PX_TRY
    r = subTask_ ? subTask_->Status() : status_;
    PX_CATCH(errorHandler_, Loc("IPXTask_Status"))
    return r;
}

ObjectPtr PXCPMain::PXParamSelector() {
    PX_TRY
    lastError_ = 0;
    PX_CATCH(errorHandler_, Loc("IPXTask_PXParamSelector"))
    return nullptr;
}

IPXFunctionPtr PXCPMain::PXFunction() {
    IPXFunctionPtr r;
    PX_TRY
    lastError_ = 0;
    if (subTask_) r = subTask_->PXFunction();
    PX_CATCH(errorHandler_, Loc("IPXTask_PXFunction"))
    return r;
}

void PXCPMain::Cleanup() {
    PX_TRY
    lastError_ = 0;
    if (subTask_) subTask_->Cleanup();
    PX_CATCH(errorHandler_, Loc("IPXTask_Cleanup"))
}

void PXCPMain::Break() {
    PX_TRY
    lastError_ = 0;
    if (subTask_) subTask_->Break();
    PX_CATCH(errorHandler_, Loc("IPXTask_Break"))
}

bool PXCPMain::StartFunction() {
    bool r = false;
    PX_TRY
    status_ = 1;
    if (!subTask_) {
        lastError_ = 47;
        return false;
    }
    r = subTask_->StartFunction();
    lastError_ = 0;
    PX_CATCH(errorHandler_, Loc("IPXTask_StartFunction"))
    return r;
}

long PXCPMain::DoParamSelector() {
    long r = 0;
    PX_TRY
    r = ShowSelectGeographyLevelDialog();
    lastError_ = 0;
    PX_CATCH(errorHandler_, Loc("IPXTask_DoParamSelector"))
    return r;
}

bool PXCPMain::InitFunction() {
    bool r = false;
    PX_TRY
    lastError_ = 0;
    if (subTask_) r = subTask_->InitFunction();
    PX_CATCH(errorHandler_, Loc("IPXTask_InitFunction"))
    return r;
}

bool PXCPMain::InitParamSelector() {
    bool r = false;
    PX_TRY
    lastError_ = 0;
    r = true;
    PX_CATCH(errorHandler_, Loc("IPXTask_InitParamSelector"))
    return r;
}

bool PXCPMain::Init(DataManagerPtr dataManager, gis::ApplicationPtr application) {
    bool r = false;
    PX_TRY
    dataManager_ = std::move(dataManager);
    application_ = std::move(application);
    datasets_.clear();
    for (long i = 0; i < dataManager_->DatasetCount(); ++i) datasets_.push_back(dataManager_->GetDataset(i));
    auto ext = GetPXExtension(application_);
    if (!ext) Raise(kErrObjectNotSet, "Object variable or With block variable not set");
    std::string current = ext->CurrentDatasetName();
    businessDataset_.reset();
    for (auto& d : datasets_)
        if (d->name == current) businessDataset_ = d;  // the last match wins
    status_ = 1;
    lastError_ = 0;
    r = true;
    PX_CATCH(errorHandler_, Loc("IPXTask_Init"))
    return r;
}

bool PXCPMain::SetParam(const std::string& name, Variant& value) {
    bool r = false;
    PX_TRY
    if (name == "SourceAnalysis") {
        sourceAnalysis_ = value.IsNothing() || value.IsEmpty() ? nullptr : value.As<Analysis>();
        r = true;
    } else if (name == "PropertySet") {
        pageSettings_ = value.IsNothing() || value.IsEmpty() ? nullptr : value.As<PropertySet>();
        r = true;
    }
    PX_CATCH(errorHandler_, Loc("IPXTask_SetParam"))
    return r;
}

long PXCPMain::ShowSelectGeographyLevelDialog() {
    const std::string location = Loc("ShowSelectGeographyLevelDialog");
    auto page = std::make_shared<SelectGeographyLevelDialog>();
    long result = 0;
    try {
        page->BusinessDataset = businessDataset_;
        page->ReadFromPropertySet(pageSettings_);
        page->InitializeDialog();
        result = 1;
        do {
            page->ResetParams();
            bool previousWay = page->IsDemographicWay;
            LoadFormPosition(*page, application_, pageSettings_, result == 2);
            page->ShowModal();
            result = page->Result;
            if (page->IsDemographicWay != previousWay && pageSettings_) {
                // The other way's pages keep nothing of this one's.
                std::vector<std::string> names;
                std::vector<Variant> values;
                pageSettings_->GetAllProperties(names, values);
                for (auto& n : names) pageSettings_->RemoveProperty(n);
            }
            SaveFormPosition(*page, pageSettings_);
            page->WriteToPropertySet(pageSettings_);
            if (result == 2) break;
            if (result == 1) {
                mainTask_ = page->SelectedTask;
                mainLayerName_ = page->MainLayerName;
                std::string levelName = page->Ctl("GeographyLevelsList").ListText();
                if (mainLayerName_.empty()) {
                    ResMsgBox(264, forms::vbInformation | forms::vbOKOnly, 198);
                    page->Unload();
                    return 0;
                }
                mainDSLayer_ = businessDataset_->LayerByName(mainLayerName_);
                additionalFields_ = mainTask_->additionalFields;
                additionalFieldsCol_.reset();
                if (additionalFields_ && additionalFields_->Count() != 0) {
                    additionalFieldsCol_ = std::make_shared<StringList>();
                    for (long i = 0; i < additionalFields_->Count(); ++i) additionalFieldsCol_->Add(additionalFields_->Item(i));
                }
                subTask_.reset();
                subTask_ = CreateObjectAs<IPXTask>(page->IsDemographicWay ? "PXCP.PXCPDemographicData"
                                                                          : "PXCP.PXCPHouseholdData");
                bool ok = subTask_->Init(dataManager_, application_);
                auto pass = [&](const char* key, Variant v) {
                    if (!ok) return v;
                    ok = subTask_->SetParam(key, v);
                    return v;
                };
                if (ok) {
                    Variant v = pass("SourceAnalysis", sourceAnalysis_ ? Variant(sourceAnalysis_) : Variant(nullptr));
                    if (ok) sourceAnalysis_ = v.IsNothing() ? nullptr : v.As<Analysis>();
                    v = pass("PropertySet", pageSettings_ ? Variant(pageSettings_) : Variant(nullptr));
                    if (ok) pageSettings_ = v.IsNothing() ? nullptr : v.As<PropertySet>();
                    v = pass("CustomerProspectingTask", mainTask_);
                    if (ok) mainTask_ = v.As<TaskEntry>();
                    v = pass("MainLayerName", mainLayerName_);
                    if (ok) mainLayerName_ = v.ToString();
                    v = pass("MainDSLayer", mainDSLayer_ ? Variant(mainDSLayer_) : Variant(nullptr));
                    if (ok) mainDSLayer_ = v.IsNothing() ? nullptr : v.As<DatasetLayer>();
                    v = pass("AdditionalFieldsCol", additionalFieldsCol_ ? Variant(additionalFieldsCol_) : Variant(nullptr));
                    if (ok) additionalFieldsCol_ = v.IsNothing() ? nullptr : v.As<StringList>();
                    pass("DemogrLevelName", levelName);
                }
                if (ok) ok = subTask_->InitParamSelector();
                if (!ok) {
                    // A refusal is no run-time error: the report carries the
                    // current error values, which are empty.
                    errorHandler_->Report(location, 0, "", "");
                    page->Unload();
                    return 0;
                }
                result = subTask_->DoParamSelector();
            }
        } while (result == 2);
        page->Unload();
    } catch (...) {
        ReportException(errorHandler_, location);
        page->Unload();
        return 0;
    }
    return result;
}

}  // namespace pxcp
