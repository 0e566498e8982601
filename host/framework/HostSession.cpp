#include "host/framework/HostSession.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace host {

HostSession HostSession::Open(const std::string& configPath, const std::string& analysesFolder) {
    RegisterHostClasses();
    gis::EnsureGdal();
    HostSession s;
    s.config = LoadHostConfiguration(configPath);
    std::string root = analysesFolder;
    if (root.empty() && s.config.settings.count("Analyses Folder")) root = s.config.settings["Analyses Folder"];
    if (root.empty()) {
        const char* data = std::getenv("XDG_DATA_HOME");
        const char* home = std::getenv("HOME");
        root = data && *data ? std::string(data) + "/plexa/analyses"
                             : std::string(home ? home : "/tmp") + "/.local/share/plexa/analyses";
    }
    s.dataManager = std::make_shared<DataManager>(s.config.datasets, root);
    s.application = std::make_shared<gis::Application>();
    s.extension = std::make_shared<Extension>(s.dataManager, s.config);
    s.application->AddExtension("PXKernel.PXExtension", s.extension);
    s.pageSettings = std::make_shared<PropertySet>();
    // The credit map pictures give the data, when the configuration words it.
    if (auto a = s.config.settings.find("Map Attribution"); a != s.config.settings.end())
        s.application->FocusMap()->attribution = a->second;
    return s;
}

PropertySetPtr PageSettingsForReopen(const Analysis& analysis) {
    auto settings = std::make_shared<PropertySet>();
    settings->FromXml(analysis.Properties()->ToXml());
    const std::pair<const char*, const char*> queries[] = {{"AnalysisParams.dmq", "DMQFileFullPath"},
                                                           {"AnalysisParams.hhq", "HHQFileFullPath"}};
    for (auto& [file, key] : queries) {
        fs::path p = fs::path(analysis.Folder()) / file;
        if (fs::is_regular_file(p)) settings->SetProperty(key, p.string());
    }
    return settings;
}

void HostSession::AddBasemap() {
    if (config.basemapLayer.empty()) return;
    DatasetPtr current;
    for (auto& d : config.datasets)
        if (d->name == config.currentDataset) current = d;
    if (!current) Raise(kErrInvalidCall, "The current dataset " + config.currentDataset + " is not configured");
    auto layer = current->LayerByName(config.basemapLayer);
    if (!layer) Raise(kErrInvalidCall, "The basemap layer " + config.basemapLayer + " is not configured");
    auto fl = std::make_shared<gis::FeatureLayer>();
    fl->featureClass = extension->GetDataWorkspace()->OpenFeatureClass(layer->datasetName);
    fl->name = layer->caption;
    auto r = std::make_shared<gis::SimpleRenderer>();
    // A quiet blue-grey, of another hue than the greens of the results and
    // darker than their palest class, so that every result area stands out
    // from the areas around it.
    r->fill = {210, 212, 224};
    r->outlineColor = {150, 152, 166};
    fl->renderer = r;
    application->FocusMap()->AddLayer(fl);
}

}  // namespace host
