#include "TestSupport.h"

#include <cpl_string.h>
#include <gdal_utils.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "PXCP/Register.h"
#include "host/forms/Forms.h"
#include "host/framework/ErrorHandler.h"

namespace fs = std::filesystem;

namespace pxtest {

std::string PdfText(const std::string& pdf) {
    std::string text;
    std::string cmd = "pdftotext -layout '" + pdf + "' - 2>&1";
    if (FILE* p = popen(cmd.c_str(), "r")) {
        std::array<char, 4096> buf;
        while (size_t n = fread(buf.data(), 1, buf.size(), p)) text.append(buf.data(), n);
        pclose(p);
    }
    return text;
}


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

std::string WriteConfig(const ScratchDir& dir, const std::string& tasksXml, const std::string& dataset,
                        const std::string& data, const std::string& settingsXml) {
    std::string path = dir / "config.xml";
    std::ofstream f(path);
    f << "<?xml version=\"1.0\"?>\n<PlexaConfiguration currentDataset=\"" << dataset
      << "\" analyses=\"analyses\">\n"
      << "<Settings>"
      << (settingsXml.empty() ? "<Setting name=\"Data Format\" value=\"Shapefile\"/>" : settingsXml) << "</Settings>\n"
      << "<Dataset name=\"NC\" data=\"" << (data.empty() ? SampleDir() : data) << "\">\n"
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

std::string CountyTargetsTasks() {
    return R"(<Task name="CustomerProspecting">
  <Task name="CustomerProspecting.ByLayer" caption="Counties" level="County">
    <Param key="MainLayer" value="Counties"/>
    <AdditionalFields><Field>NAME</Field></AdditionalFields>
    <Years><Year>1974</Year><Year>1979</Year></Years>
    <Category id="Births" caption="Births">
      <Target name="Live births" CanPercent="False"><Field year="1" number="BIR74"/><Field year="2" number="BIR79"/></Target>
    </Category>
    <Category id="Infant health" caption="Infant health">
      <Target name="Sudden infant deaths" CanPercent="True"><Field year="1" number="SID74" percent="BIR74"/></Target>
    </Category>
  </Task>
</Task>)";
}

void Translate(const std::string& src, const std::string& dst, const std::vector<std::string>& options) {
    host::gis::EnsureGdal();
    GDALDatasetH in = GDALOpenEx(src.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    ASSERT_NE(in, nullptr);
    char** argv = nullptr;
    for (auto& o : options) argv = CSLAddString(argv, o.c_str());
    auto* opts = GDALVectorTranslateOptionsNew(argv, nullptr);
    int error = 0;
    GDALDatasetH out = GDALVectorTranslate(dst.c_str(), nullptr, 1, &in, opts, &error);
    GDALVectorTranslateOptionsFree(opts);
    CSLDestroy(argv);
    if (out) GDALClose(out);
    GDALClose(in);
    EXPECT_EQ(error, 0);
    ASSERT_NE(out, nullptr);
}

std::tuple<char, int, int> DbfField(const std::string& dbf, const std::string& name) {
    std::ifstream in(dbf, std::ios::binary);
    char d[32];
    in.read(d, 32);  // the table header; the field descriptors follow
    while (in.read(d, 32) && d[0] != '\r')
        if (std::string(d, strnlen(d, 11)) == name)
            return {d[11], static_cast<unsigned char>(d[16]), static_cast<unsigned char>(d[17])};
    return {'?', -1, -1};
}

}  // namespace pxtest

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace pxtest {

ServiceProcess::ServiceProcess(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<std::string> all = {PLEXA_HHD_PATH, "--port", "0"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // The first line names the port.
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    // Keep reading the service's log so that it never blocks on a full pipe.
    if (fork() == 0) {
        while (read(out[0], &c, 1) == 1) {
        }
        _exit(0);
    }
    close(out[0]);
    size_t colon = line.rfind(':');
    if (line.rfind("listening on", 0) != 0 || colon == std::string::npos)
        throw std::runtime_error("the household-data service did not start: " + line);
    port_ = std::stoi(line.substr(colon + 1));
    setenv("PLEXA_HOUSEHOLD_SERVICE", Host().c_str(), 1);
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    unsetenv("PLEXA_HOUSEHOLD_SERVICE");
}

int UnusedPort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    int port = ntohs(a.sin_port);
    close(s);
    return port;
}

}  // namespace pxtest
