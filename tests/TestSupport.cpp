#include "TestSupport.h"

#include <fstream>
#include <random>

#include "PXCP/Register.h"
#include "host/forms/Forms.h"
#include "host/framework/ErrorHandler.h"

namespace fs = std::filesystem;

namespace pxtest {

std::string SourceDir() { return PXCP_SOURCE_DIR; }
std::string SampleDir() { return SourceDir() + "/data/sample"; }
bool HaveSample() { return fs::exists(SampleDir() + "/nc.shp"); }

ScratchDir::ScratchDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("pxcp-test-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string WriteConfig(const ScratchDir& dir, const std::string& tasksXml, const std::string& dataset) {
    std::string path = dir / "config.xml";
    std::ofstream f(path);
    f << "<?xml version=\"1.0\"?>\n<PlexaConfiguration currentDataset=\"" << dataset
      << "\" analyses=\"analyses\">\n"
      << "<Settings><Setting name=\"Data Format\" value=\"Shapefile\"/></Settings>\n"
      << "<Dataset name=\"NC\" data=\"" << SampleDir() << "\">\n"
      << "<Layer name=\"Counties\" dataset=\"nc\"/>\n"
      << tasksXml << "\n</Dataset>\n</PlexaConfiguration>\n";
    return path;
}

std::string StandardTasks() {
    return R"(<Task name="CustomerProspecting">
  <Task name="CustomerProspecting.ByLayer" caption="Counties" level="County">
    <Param key="MainLayer" value="Counties"/>
    <AdditionalFields><Field>NAME</Field></AdditionalFields>
  </Task>
  <Task name="CustomerProspecting.Household" caption="Counties"><Param key="MainLayer" value="Counties"/></Task>
  <Task name="CustomerProspecting.ByLayer" caption="Tracts"><Param key="MainLayer" value="Counties"/></Task>
</Task>)";
}

Harness::Harness(const std::string& configPath) : session(host::HostSession::Open(configPath)) {
    pxcp::RegisterPXCPClasses();
    driver = std::make_shared<host::forms::ScriptedDriver>();
    host::forms::SetDriver(driver);
    host::forms::MessageLog().clear();
    host::ErrorHandler::Log().clear();
}

}  // namespace pxtest
