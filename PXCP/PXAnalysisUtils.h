// Procedures shared by the tasks, pages and functions of Customer
// Prospecting: page placement and help, the current dataset and its
// configuration, the default spatial reference, dBASE tables, state codes,
// addresses, analysis removal and map-layer order.
#pragma once

#include <string>

#include "host/forms/Forms.h"
#include "host/framework/Framework.h"

namespace pxcp {

inline constexpr const char* kHelpFile = "velmar_csBusiness.hlp";
inline constexpr const char* kHelpProspecting = "ABOUT_CUSTOMER_PROSPECTING";
// The household-data service of this installation, when the dataset names none.
inline constexpr const char* kHouseholdServiceURL = "http://127.0.0.1:8360/";
inline constexpr const char* kHelpProfile = "ABOUT_CUSTOMER_PROFILE";

// ---- page support ----
host::ExtensionPtr GetPXExtension(const host::gis::ApplicationPtr& application);
void LoadFormPosition(host::forms::Form& page, const host::gis::ApplicationPtr& application,
                      const host::PropertySetPtr& settings, bool centre);
void SaveFormPosition(host::forms::Form& page, const host::PropertySetPtr& settings);
void ShowHelp(const std::string& helpFile, const std::string& topic, long hwnd);

// ---- analysis utilities ----
host::DatasetPtr GetCurrentDataset(const host::gis::ApplicationPtr& application);
host::gis::GeometryPtr GetBoundingGeometry(const host::gis::ApplicationPtr& application);
bool RemoveAnalysis(const std::string& name, const host::gis::ApplicationPtr& application);
host::TaskEntryPtr FindCustomerProspectingEntry(const host::DatasetPtr& dataset);
host::gis::SpatialReferencePtr GetDefaultSpatialReference(const host::gis::ApplicationPtr& application);
host::gis::TablePtr CreateDBF(const std::string& fullPath, const host::gis::Fields& fields);
host::gis::TablePtr OpenDBF(const std::string& fullPath);
std::string GetStateAbbrByFip(const std::string& code);
std::string GetStateFipByAbbr(const std::string& abbreviation);
void OpenURL(long hwnd, const std::string& address);
long FindFirstPolygonLayer(const host::gis::ApplicationPtr& application);
bool ContainsPolygonLayer(const host::gis::GroupLayer& group);
void MovePolygonLayersDown(host::gis::GroupLayer& group);
void CreateSpatialIndex(const host::gis::FeatureClassPtr& featureClass);
void ZoomToDataset(host::gis::Map& view, const host::gis::FeatureClassPtr& dataset);
host::gis::SpatialReferencePtr GetGeographicReference(const host::gis::FeatureClassPtr& dataset,
                                                      const host::gis::SpatialReferencePtr& fallback);

// Adds an analysis output layer to the focus map (into the group layer for
// analyses when the host settings ask for it), zooms to it and refreshes.
void AddAnalysisLayer(const host::gis::ApplicationPtr& application, const host::gis::FeatureLayerPtr& layer);
// Hands an output layer to the report task when it wants one; false when a
// parameter was refused. Areas and stores are identified by idField.
bool RunReportTask(host::IPXTask& reportTask, const host::DataManagerPtr& dataManager, const std::string& analysisName,
                   const host::gis::FeatureLayerPtr& layer, const std::string& idField);

// Message box with text and title by resource id.
int ResMsgBox(int textId, int style, int titleId = 0);

}  // namespace pxcp
