// One running host: configuration, data manager, GIS application with its
// map, and the extension, wired together as the host program does it.
#pragma once

#include <string>

#include "host/framework/Framework.h"

namespace host {

struct HostSession {
    HostConfiguration config;
    DataManagerPtr dataManager;
    gis::ApplicationPtr application;
    ExtensionPtr extension;
    PropertySetPtr pageSettings;

    // Reads the configuration and opens everything. analysesFolder
    // overrides the configured folder of analyses when not empty. Raises
    // with a message naming what is wrong.
    static HostSession Open(const std::string& configPath, const std::string& analysesFolder = "");
    // The basemap layer of the configuration, added to the focus map.
    void AddBasemap();
};

// The page settings the host hands the wizard when it re-opens an analysis:
// the choices the analysis was made with, and its own query file
// (AnalysisParams.dmq or .hhq, when it is there) as the query to show, so
// that the data page opens as the analysis was run.
PropertySetPtr PageSettingsForReopen(const Analysis& analysis);

}  // namespace host
