#include "service/HouseholdDataClient.h"

#include <algorithm>

#include "host/platform/TextFile.h"

#include <httplib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pxcp {

std::string ReplyValue(const std::string& body, const std::string& key) {
    std::istringstream in(body);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    }
    return "";
}

HouseholdDataClient::HouseholdDataClient() = default;
HouseholdDataClient::~HouseholdDataClient() = default;

std::string HouseholdDataClient::ServiceHost() {
    const char* h = std::getenv("PLEXA_HOUSEHOLD_SERVICE");
    return h && *h ? h : "127.0.0.1:8360";
}

long HouseholdDataClient::TimeoutMs() {
    const char* t = std::getenv("PLEXA_HOUSEHOLD_TIMEOUT_MS");
    long ms = t ? std::atol(t) : 0;
    return ms > 0 ? ms : 30000;
}

std::string HouseholdDataClient::Fail(const std::string& message) {
    message_ = message;
    return "0";
}

std::string HouseholdDataClient::SetGeography(const std::string& geographyCode, const std::string& areaList) {
    if (geographyCode.empty()) return Fail("No geography code was given for the household query.");
    if (areaList.empty()) return Fail("The household query has no areas.");
    geography_ = geographyCode;
    areas_ = areaList;
    return "1";
}

std::string HouseholdDataClient::SetQuery(const std::string& categoryList, const std::string& targetList) {
    if (categoryList.empty() || targetList.empty()) return Fail("The household query has no categories or targets.");
    categories_ = categoryList;
    targets_ = targetList;
    return "1";
}

namespace {

std::string Describe(httplib::Error e) {
    switch (e) {
        case httplib::Error::Connection: return "the connection was refused (is the service running?)";
        case httplib::Error::Read: return "it did not answer in time";
        case httplib::Error::Write: return "the request could not be sent";
        case httplib::Error::ConnectionTimeout: return "the connection timed out";
        default: return httplib::to_string(e);
    }
}

}  // namespace

std::string HouseholdDataClient::Submit(const std::string& serviceHost, const std::string& gatewayPath,
                                        const std::string& resultDbfPath, const std::string& dataVendor, bool wait,
                                        const std::string& userName, const std::string& password,
                                        const std::string& analysisName) {
    if (geography_.empty() || categories_.empty()) return Fail("The household query is not complete.");
    host_ = serviceHost;
    gateway_ = "/" + gatewayPath;
    dbfPath_ = resultDbfPath;
    wait_ = wait;
    http_ = std::make_unique<httplib::Client>("http://" + host_);
    long ms = TimeoutMs();
    http_->set_connection_timeout(ms / 1000, (ms % 1000) * 1000);
    http_->set_read_timeout(ms / 1000, (ms % 1000) * 1000);
    http_->set_write_timeout(ms / 1000, (ms % 1000) * 1000);
    httplib::Params form{{"user", userName},       {"password", password},   {"vendor", dataVendor},
                         {"analysis", analysisName}, {"geog", geography_},   {"areas", areas_},
                         {"qfields", categories_},  {"qlist", targets_},      {"wait", wait ? "1" : "0"}};
    auto res = http_->Post((gateway_ + "/submit").c_str(), form);
    if (!res) return Fail("The household-data service at " + host_ + " could not be reached: " + Describe(res.error()) + ".");
    std::string status = ReplyValue(res->body, "status");
    if (status.empty()) return Fail("The household-data service sent a reply that could not be read.");
    jobId_ = ReplyValue(res->body, "job");
    if (status != "1" && status != "1.0") {
        std::string why = ReplyValue(res->body, "message");
        message_ = "The household-data service refused the query" + (why.empty() ? std::string(".") : ": " + why);
    } else if (jobId_.empty()) {
        return Fail("The household-data service accepted the query but named no job.");
    }
    return status;
}

void HouseholdDataClient::FetchResult(const std::string& serviceHost, const std::string& gatewayPath,
                                      const std::string& jobId, const std::string& dbfPath) {
    httplib::Client http("http://" + serviceHost);
    long ms = TimeoutMs();
    http.set_connection_timeout(ms / 1000, (ms % 1000) * 1000);
    http.set_read_timeout(ms / 1000, (ms % 1000) * 1000);
    std::string gateway = "/" + gatewayPath;
    auto status = http.Get((gateway + "/status?job=" + jobId).c_str());
    if (!status) throw std::runtime_error("The household-data service at " + serviceHost + " could not be reached: " + Describe(status.error()) + ".");
    std::string s = ReplyValue(status->body, "status");
    if (s == "0" || s.empty()) throw std::runtime_error("The household-data service knows no job " + jobId + ".");
    if (s != "1") throw std::runtime_error("Job " + jobId + " has not finished yet; try again later.");
    auto table = http.Get((gateway + "/result?job=" + jobId).c_str());
    if (!table || table->status != 200) throw std::runtime_error("The result table of job " + jobId + " could not be fetched.");
    // Only a whole table replaces what is there.
    std::string problem = DbfProblem(table->body, {"TOTAL", "TQ"});
    if (!problem.empty())
        throw std::runtime_error("The service sent no usable result table for job " + jobId + " (" + problem +
                                 "); " + dbfPath + " was not changed.");
    if (!host::platform::WriteFileAtomically(dbfPath, table->body))
        throw std::runtime_error("The result table could not be written to " + dbfPath + "; nothing was changed.");
}

std::string HouseholdDataClient::DbfProblem(const std::string& bytes, const std::vector<std::string>& fields) {
    auto u8 = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])); };
    if (bytes.size() < 33) return "too short to be a dBASE table";
    unsigned version = u8(0) & 0x07;
    if (version != 3 && version != 4) return "not a dBASE table";
    unsigned long records = u8(4) | u8(5) << 8 | u8(6) << 16 | static_cast<unsigned long>(u8(7)) << 24;
    unsigned header = u8(8) | u8(9) << 8, recordLength = u8(10) | u8(11) << 8;
    if (header < 33 || header > bytes.size() || recordLength == 0) return "a damaged dBASE header";
    if (bytes.size() < header + static_cast<unsigned long long>(records) * recordLength) return "the table is cut short";
    std::vector<std::string> names;
    for (size_t at = 32; at + 32 <= header && bytes[at] != '\x0d'; at += 32) {
        std::string name(bytes.data() + at, 11);
        names.push_back(name.substr(0, name.find('\0')));
    }
    for (auto& f : fields)
        if (std::find(names.begin(), names.end(), f) == names.end()) return "it has no field " + f;
    return "";
}

long HouseholdDataClient::GetStatus() {
    if (!http_) throw std::runtime_error("No household query has been submitted.");
    // A job that is not waited for is done for us once it is accepted: its
    // table is fetched later.
    if (!wait_) return 1;
    auto res = http_->Get((gateway_ + "/status?job=" + jobId_).c_str());
    if (!res)
        throw std::runtime_error("The household-data service at " + host_ + " stopped answering: " + Describe(res.error()) + ".");
    std::string status = ReplyValue(res->body, "status");
    if (status.empty()) throw std::runtime_error("The household-data service sent a job status that could not be read.");
    if (status == "0") throw std::runtime_error("The household-data service lost job " + jobId_ + ": " + ReplyValue(res->body, "message"));
    if (status != "1") return 2;  // still running
    auto table = http_->Get((gateway_ + "/result?job=" + jobId_).c_str());
    if (!table || table->status != 200)
        throw std::runtime_error("The result table of job " + jobId_ + " could not be fetched from the household-data service.");
    std::ofstream out(dbfPath_, std::ios::binary | std::ios::trunc);
    out << table->body;
    if (!out.flush()) throw std::runtime_error("The result table could not be written to " + dbfPath_ + ".");
    return 1;
}

}  // namespace pxcp
