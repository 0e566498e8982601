// Shared set-up of the tests: a scratch folder, a host session over a
// configuration written by the test, and the scripted driver.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "host/forms/ScriptedDriver.h"
#include "host/framework/HostSession.h"

namespace pxtest {

std::string SourceDir();
std::string SampleDir();
bool HaveSample();

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Writes a configuration with the given <Task name="CustomerProspecting">
// body (or any tasks) for a dataset over the sample data, or over other
// data (a folder, a GeoPackage or a "PG:" database) and with other settings.
std::string WriteConfig(const ScratchDir& dir, const std::string& tasksXml, const std::string& dataset = "NC",
                        const std::string& data = "", const std::string& settingsXml = "");

// A host session with a fresh scripted driver installed.
struct Harness {
    explicit Harness(const std::string& configPath);
    host::HostSession session;
    std::shared_ptr<host::forms::ScriptedDriver> driver;
};

// The level entries most tests use: counties with both ways.
std::string StandardTasks();
// A county level with two years and targets of births and infant deaths
// (the latter a percentage of births), the demographic way only.
std::string CountyTargetsTasks();

// ogr2ogr through the library: translates src into dst with the options.
void Translate(const std::string& src, const std::string& dst, const std::vector<std::string>& options);
// Type, width and decimals of a field as the header of a .dbf file states
// them; ('?', -1, -1) when the table has no such field.
std::tuple<char, int, int> DbfField(const std::string& dbf, const std::string& name);
// The text pdftotext reads from a PDF, laid out as on the page.
std::string PdfText(const std::string& pdf);

}  // namespace pxtest

namespace pxtest {

// A household-data service process on a free port of 127.0.0.1, for the
// life of the object; the client is pointed at it.
class ServiceProcess {
public:
    explicit ServiceProcess(const std::vector<std::string>& args = {});
    ~ServiceProcess();
    int Port() const { return port_; }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int pid_ = -1;
    int port_ = 0;
};

// A port nothing listens on.
int UnusedPort();

}  // namespace pxtest
