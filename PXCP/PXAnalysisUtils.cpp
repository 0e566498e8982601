#include "PXCP/PXAnalysisUtils.h"

#include "PXAnalysis/WorkspaceUtils.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "PXAnalysis/SysFolderProv.h"
#include "host/framework/ErrorHandler.h"
#include "host/platform/Locale.h"
#include "host/platform/Platform.h"
#include "i18n/modi18N.h"

namespace fs = std::filesystem;

namespace pxcp {

using namespace host;
using forms::MsgBox;

namespace {
const host::ErrorLocation Loc("PXCP\\PXAnalysisUtils.bas");
}  // namespace

int ResMsgBox(int textId, int style, int titleId) {
    return MsgBox(FindString(textId), style, titleId ? FindString(titleId) : "");
}

// ---------------- page support ----------------

ExtensionPtr GetPXExtension(const gis::ApplicationPtr& application) {
    auto eh = NewErrorHandler();
    ExtensionPtr extension;
    PX_TRY
    if (!application) Raise(kErrObjectNotSet, "Object variable or With block variable not set");
    extension = std::dynamic_pointer_cast<Extension>(application->FindExtension("PXKernel.PXExtension"));
    PX_CATCH(eh, Loc("GetPXExtension"))
    return extension;
}

void SaveFormPosition(forms::Form& page, const PropertySetPtr& settings) {
    if (!settings) return;
    settings->SetProperty("FormLeft", page.left);
    settings->SetProperty("FormTop", page.top);
    settings->SetProperty("FormWidth", page.width);
    settings->SetProperty("FormHeight", page.height);
}

void LoadFormPosition(forms::Form& page, const gis::ApplicationPtr&, const PropertySetPtr& settings, bool centre) {
    auto& screen = platform::Screen();
    page.Load();
    double left, top;
    if (!settings || !settings->HasProperty("FormLeft")) {
        // No page was placed yet: the middle of the screen.
        left = std::floor((screen.width - page.width) / 2);
        top = std::floor((screen.height - page.height) / 2);
    } else {
        // Whole numbers as the platform's conversion makes them: halves go
        // to the even neighbour.
        left = settings->GetProperty("FormLeft").ToLong();
        top = settings->GetProperty("FormTop").ToLong();
        if (centre) {
            double w = settings->GetProperty("FormWidth").ToDouble();
            double h = settings->GetProperty("FormHeight").ToDouble();
            left += std::floor((w - page.width) / 2);
            top += std::floor((h - page.height) / 2);
        }
    }
    if (left + page.width > screen.width) left = screen.width - page.width;
    if (top + page.height > screen.height) top = screen.height - page.height;
    page.left = left;
    page.top = top;
}

void ShowHelp(const std::string& helpFile, const std::string& topic, long hwnd) {
    platform::ShowHelpTopic(hwnd, helpFile + ">notes", 259, topic);
}

// ---------------- datasets and configuration ----------------

DatasetPtr GetCurrentDataset(const gis::ApplicationPtr& application) {
    auto ext = GetPXExtension(application);
    if (!ext) return nullptr;
    auto dm = ext->GetDataManager();
    DatasetPtr found;
    for (long i = 0; i < dm->DatasetCount(); ++i)
        if (dm->GetDataset(i)->name == ext->CurrentDatasetName()) found = dm->GetDataset(i);
    return found;
}

gis::GeometryPtr GetBoundingGeometry(const gis::ApplicationPtr& application) {
    auto ext = GetPXExtension(application);
    return ext ? ext->BoundingGeometry() : nullptr;
}

bool RemoveAnalysis(const std::string& name, const gis::ApplicationPtr& application) {
    auto ext = GetPXExtension(application);
    if (!ext || !ext->GetDataManager()) return false;
    return ext->GetDataManager()->RemoveAnalysis(name);
}

TaskEntryPtr FindCustomerProspectingEntry(const DatasetPtr& dataset) {
    if (!dataset) return nullptr;
    for (long i = 0; i < dataset->TaskCount(); ++i)
        if (dataset->Task(i)->name == "CustomerProspecting") return dataset->Task(i);
    return nullptr;
}

gis::SpatialReferencePtr GetDefaultSpatialReference(const gis::ApplicationPtr& application) {
    std::string type;
    long code = -1;
    TaskEntryPtr entry;
    if (auto ds = GetCurrentDataset(application)) {
        for (long i = 0; i < ds->TaskCount() && !entry; ++i) {
            auto t = ds->Task(i);
            if (t->name != "Projections") continue;
            for (auto& s : t->subEntries)
                if (s->name == "Projection.ResultantDefault") {
                    entry = s;
                    break;
                }
        }
    }
    auto number = [](const std::string& s) { return platform::ParseCNumber(s); };
    if (entry) {
        type = entry->Param("Type");
        if (auto v = number(entry->Param("ID"))) code = static_cast<long>(*v);
    }
    if (type.empty() || code == -1) return gis::SpatialReference::FromEPSG(4269);
    if (type == "Projected") {
        auto sr = gis::SpatialReference::FromEPSG(static_cast<int>(code));
        static const std::pair<const char*, const char*> params[] = {{"CentralMeridian", "central_meridian"},
                                                                     {"StandardParallel1", "standard_parallel_1"},
                                                                     {"StandardParallel2", "standard_parallel_2"}};
        for (auto& [key, name] : params)
            if (auto v = number(entry->Param(key))) sr->SetProjectionParameter(name, *v);
        return sr;
    }
    if (type == "Geographic") return gis::SpatialReference::FromEPSG(static_cast<int>(code));
    return gis::SpatialReference::FromEPSG(4269);
}

// ---------------- dBASE tables ----------------

namespace {
std::string TableName(const std::string& fileName) {
    std::string n = fileName;
    if (n.size() > 4 && IEquals(n.substr(n.size() - 4), ".dbf")) n = n.substr(0, n.size() - 4);
    return n;
}
}  // namespace

gis::TablePtr OpenDBF(const std::string& fullPath) {
    FileInfo info;
    info.SetPath(fullPath);
    if (info.Folder().empty() || info.FileName().empty()) return nullptr;
    auto ws = gis::Workspace::OpenFolder(info.Folder());
    return ws->OpenTable(TableName(info.FileName()));
}

gis::TablePtr CreateDBF(const std::string& fullPath, const gis::Fields& fields) {
    auto eh = NewErrorHandler();
    gis::TablePtr result;
    PX_TRY
    auto info = CreateObjectAs<FileInfo>("PXDM.PXFileInfo");
    info->SetPath(fullPath);
    std::string name = TableName(info->FileName());
    if (!fs::is_directory(info->Folder().empty() ? "." : info->Folder())) {
        MsgBox(FindString(252) + "\r" + info->Folder(), forms::vbOKOnly, "");
        return nullptr;
    }
    std::string folder = info->Folder().empty() ? "./" : info->Folder();
    if (fs::exists(fs::path(folder) / (name + ".dbf"))) {
        if (MsgBox("Replace existing file?", forms::vbQuestion | forms::vbYesNo, "Create Customer Profile (*.dbf)") == forms::vbNo)
            return nullptr;
        gis::TablePtr old;
        try {
            old = OpenDBF(folder + name + ".dbf");
        } catch (...) {
        }
        if (!old) MsgBox(FindString(253), forms::vbOKOnly, "");
        if (!old) Raise(kErrFileNotFound, "The existing table " + name + " could not be opened");
        auto ws = old->GetWorkspace();
        old->Close();
        ws->DeleteDataset(name);
    }
    auto ws = gis::Workspace::OpenFolder(folder);
    result = ws->CreateTable(name, fields);
    PX_CATCH(eh, Loc("CreateDBF"))
    return result;
}

// ---------------- state codes ----------------

namespace {
const std::vector<std::pair<std::string, std::string>>& States() {
    static const std::vector<std::pair<std::string, std::string>> t = {
        {"01", "AL"}, {"02", "AK"}, {"04", "AZ"}, {"05", "AR"}, {"06", "CA"}, {"08", "CO"}, {"09", "CT"},
        {"10", "DE"}, {"11", "DC"}, {"12", "FL"}, {"13", "GA"}, {"15", "HI"}, {"16", "ID"}, {"17", "IL"},
        {"18", "IN"}, {"19", "IA"}, {"20", "KS"}, {"21", "KY"}, {"22", "LA"}, {"23", "ME"}, {"24", "MD"},
        {"25", "MA"}, {"26", "MI"}, {"27", "MN"}, {"28", "MS"}, {"29", "MO"}, {"30", "MT"}, {"31", "NE"},
        {"32", "NV"}, {"33", "NH"}, {"34", "NJ"}, {"35", "NM"}, {"36", "NY"}, {"37", "NC"}, {"38", "ND"},
        {"39", "OH"}, {"40", "OK"}, {"41", "OR"}, {"42", "PA"}, {"44", "RI"}, {"45", "SC"}, {"46", "SD"},
        {"47", "TN"}, {"48", "TX"}, {"49", "UT"}, {"50", "VT"}, {"51", "VA"}, {"53", "WA"}, {"54", "WV"},
        {"55", "WI"}, {"56", "WY"},
    };
    return t;
}
}  // namespace

std::string GetStateAbbrByFip(const std::string& code) {
    for (auto& [fip, abbr] : States())
        if (fip == code) return abbr;
    return "";
}

std::string GetStateFipByAbbr(const std::string& abbreviation) {
    for (auto& [fip, abbr] : States())
        if (abbr == abbreviation) return fip;
    return "";
}

// ---------------- addresses ----------------

void OpenURL(long hwnd, const std::string& address) {
    SysFolderProv folders;
    std::string cache = folders.GetSystemFolder(hwnd, platform::kFolderInternetCache, 0, "");
    if (cache.empty()) cache = "/tmp";
    std::string temp = cache + "/temphtm.HTM";
    {
        std::ofstream f(temp);
        f << "<HTML> <\\HTML>\n";
    }
    std::string exe;
    long r = platform::FindExecutable(temp, exe);
    if (r <= 32) {
        MsgBox(FindString(249), forms::vbExclamation, FindString(250));
    } else {
        r = platform::ShellOpen(exe, address);
        if (r <= 32) MsgBox(FindString(251), forms::vbExclamation, FindString(250));
    }
    std::error_code ec;
    fs::remove(temp, ec);
}

// ---------------- map layers ----------------

bool ContainsPolygonLayer(const gis::GroupLayer& group) {
    for (auto& l : group.layers) {
        if (auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l)) {
            if (fl->ShapeType() == gis::kGeomPolygon) return true;
        } else if (auto g = std::dynamic_pointer_cast<gis::GroupLayer>(l)) {
            if (ContainsPolygonLayer(*g)) return true;
        }
    }
    return false;
}

long FindFirstPolygonLayer(const gis::ApplicationPtr& application) {
    auto map = application->FocusMap();
    for (long i = 0; i < map->LayerCount(); ++i) {
        auto l = map->GetLayer(i);
        if (auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l)) {
            if (fl->ShapeType() == gis::kGeomPolygon) return i;
        } else if (auto g = std::dynamic_pointer_cast<gis::GroupLayer>(l)) {
            if (ContainsPolygonLayer(*g)) return i;
        }
    }
    return map->LayerCount();
}

void MovePolygonLayersDown(gis::GroupLayer& group) {
    long count = group.Count();
    // Walk the members that were there, first to second-to-last; each moved
    // layer goes to the end and the next member slides into its place.
    long i = 0;
    for (long visited = 0; visited < count - 1; ++visited) {
        auto l = group.layers[i];
        auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l);
        if (fl && fl->ShapeType() == gis::kGeomPolygon) {
            group.Remove(l);
            group.Add(l);
        } else {
            ++i;
        }
    }
}

void CreateSpatialIndex(const gis::FeatureClassPtr& featureClass) {
    auto fields = featureClass->GetFields();
    for (long i = 0; i < fields->FieldCount(); ++i) {
        if (fields->GetField(i)->type == gis::kFieldGeometry) {
            featureClass->AddIndex("Idx_1", fields->GetField(i)->name);
            return;
        }
    }
}

void ZoomToDataset(gis::Map& view, const gis::FeatureClassPtr& dataset) {
    gis::Envelope e = dataset->Extent();
    if (e.empty) return;
    e.Expand(1.1, 1.1);
    view.extent = e;
}

gis::SpatialReferencePtr GetGeographicReference(const gis::FeatureClassPtr& dataset,
                                                const gis::SpatialReferencePtr& fallback) {
    auto sr = dataset ? dataset->GetSpatialReference() : nullptr;
    if (sr && sr->IsGeographic()) return sr;
    if (sr && sr->IsProjected()) return sr->GeographicCoordinateSystem();
    return fallback;
}

void AddAnalysisLayer(const gis::ApplicationPtr& application, const gis::FeatureLayerPtr& layer) {
    auto ext = GetPXExtension(application);
    auto map = application->FocusMap();
    if (ext && ext->Setting("Use Group Layer For Analysis") == "True") {
        std::string groupName = ext->Setting("Group Layer For Analysis");
        if (groupName.empty()) groupName = "Analysis";
        auto group = FindGroupLayer(*map, groupName);
        if (!group) {
            group = std::make_shared<gis::GroupLayer>();
            group->name = groupName;
            group->expanded = true;
            map->AddLayer(group);
            map->MoveLayer(group, FindFirstPolygonLayer(application));
        }
        group->Add(layer);
        MovePolygonLayersDown(*group);
    } else {
        map->AddLayer(layer);
        map->MoveLayer(layer, FindFirstPolygonLayer(application));
    }
    ZoomToDataset(*map, layer->featureClass);
    application->RefreshActiveView();
    application->RefreshTOC();
}

bool RunReportTask(IPXTask& reportTask, const DataManagerPtr& dataManager, const std::string& analysisName,
                   const gis::FeatureLayerPtr& layer, const std::string& idField) {
    Variant create(false);
    reportTask.SetParam("CreateReport", create);
    if (!create.ToBool()) return true;
    if (!layer) return false;
    auto pass = [&](const char* key, Variant v) { return reportTask.SetParam(key, v); };
    if (!pass("BoundaryLayer", layer) || !pass("StoreIDField", std::string()) || !pass("NumberOfRings", int16_t(1)) ||
        !pass("AreaIDField", idField) || !pass("StoreIDField", idField) || !pass("AreaDescField", idField) ||
        !pass("Analysis", dataManager->GetAnalysis(analysisName)))
        return false;
    reportTask.InitFunction();
    reportTask.StartFunction();
    return true;
}

}  // namespace pxcp
