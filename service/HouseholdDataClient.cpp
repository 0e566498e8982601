#include "service/HouseholdDataClient.h"

#include <algorithm>

#include "host/platform/TextFile.h"

#include <httplib.h>
#include <zlib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <charconv>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

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

SubmitReply ReadSubmitReply(const std::string& body) {
    SubmitReply reply;
    reply.status = ReplyValue(body, "status");
    if (reply.status.empty()) {
        reply.status = "0";
        reply.message = "The household-data service sent a reply that could not be read.";
        return reply;
    }
    reply.read = true;
    reply.job = ReplyValue(body, "job");
    if (reply.status != "1" && reply.status != "1.0") {
        std::string why = ReplyValue(body, "message");
        reply.message = "The household-data service refused the query" + (why.empty() ? std::string(".") : ": " + why);
    } else if (reply.job.empty()) {
        reply.status = "0";
        reply.message = "The household-data service accepted the query but named no job.";
    }
    return reply;
}

size_t AreaCount(const std::string& areaList) {
    if (areaList.empty()) return 0;
    return static_cast<size_t>(std::count(areaList.begin(), areaList.end(), ',')) + 1;
}

std::string RefusalMessage(int status, const std::string& body, const std::string& user, size_t areas, size_t bytes) {
    if (status < 400) return "";
    auto megabytes = [](size_t n) {
        char text[32];
        auto [end, ec] = std::to_chars(text, text + sizeof text, static_cast<double>(n) / (1 << 20), std::chars_format::fixed, 1);
        return std::string(text, ec == std::errc() ? end : text);
    };
    // The status, and the service's own reason when it gives one.
    std::string why = ReplyValue(body, "message");
    std::string said = " (HTTP " + std::to_string(status) + ")" + (why.empty() ? "" : ": " + why) + ".";
    switch (status) {
        case 413:
            return "The household-data service refused the query as larger than it accepts" + said + " " +
                   std::to_string(areas) + " areas, " + megabytes(bytes) +
                   " MB were sent. Choose a smaller study area, or ask the service's operator to accept larger queries.";
        case 401:
            return "The household-data service did not accept the login of " + user + said +
                   " Check the user name and password.";
        case 403: return "The household-data service does not let the account " + user + " submit queries" + said;
        case 404:
            return "The household-data service has no gateway at the address the query was sent to" + said +
                   " Check the service address.";
        case 415:
            return "The household-data service cannot read the query in the form it was sent" + said +
                   " The service may need a newer version.";
        case 429:
        case 503: return "The household-data service is too busy to take the query" + said + " Try again later.";
        default: break;
    }
    if (status >= 500) return "The household-data service failed while taking the query" + said;
    return "The household-data service refused the query" + said;
}

JobState ReadJobState(const std::string& body) {
    std::string status = ReplyValue(body, "status");
    if (status.empty()) return JobState::Unreadable;
    if (status == "0") return JobState::Lost;
    return status == "1" ? JobState::Finished : JobState::Running;
}

HouseholdDataClient::HouseholdDataClient() = default;
HouseholdDataClient::~HouseholdDataClient() = default;

std::string HouseholdDataClient::ServiceHost() {
    const char* h = std::getenv("PLEXA_HOUSEHOLD_SERVICE");
    return h && *h ? h : "127.0.0.1:8360";
}

namespace {

long EnvMs(const char* name, long fallback) {
    const char* t = std::getenv(name);
    long ms = t ? std::atol(t) : 0;
    return ms > 0 ? ms : fallback;
}

std::mutex cancelMutex;
std::function<bool()> cancelCheck;

std::function<bool()> CurrentCancelCheck() {
    std::lock_guard<std::mutex> lock(cancelMutex);
    return cancelCheck;
}

// What a request sends: its bytes, their type and their compression.
struct Body {
    std::string bytes, type, encoding;
};

// The fields of a submission as multipart/form-data: unlike a form-encoded
// body, whose size servers cap at a few kilobytes (cpp-httplib at 8 KB), it
// takes an area list of any length, and carries it as it is instead of
// spelling each quote and comma in three bytes.
Body Multipart(const std::vector<std::pair<std::string, std::string>>& fields) {
    static const char* hex = "0123456789abcdef";
    std::random_device random;
    std::string boundary = "plexa-";
    for (int i = 0; i < 4; ++i)
        for (unsigned v = random(), k = 0; k < 8; ++k, v >>= 4) boundary += hex[v & 15];
    size_t size = 0;
    for (auto& [name, value] : fields) size += value.size() + name.size() + 128;
    Body body;
    body.bytes.reserve(size);
    for (auto& [name, value] : fields) {
        body.bytes += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                      "\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
        body.bytes += value;
        body.bytes += "\r\n";
    }
    body.bytes += "--" + boundary + "--\r\n";
    body.type = "multipart/form-data; boundary=" + boundary;
    return body;
}

// The body compressed with gzip; unchanged when zlib fails.
Body Gzipped(const Body& body) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return body;
    Body out{std::string(deflateBound(&z, body.bytes.size()), '\0'), body.type, "gzip"};
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.bytes.data()));
    z.next_out = reinterpret_cast<Bytef*>(out.bytes.data());
    // In pieces: zlib counts in 32-bit numbers.
    int result = Z_OK;
    size_t left = body.bytes.size();
    do {
        if (z.avail_in == 0 && left > 0) {
            z.avail_in = static_cast<uInt>(std::min<size_t>(left, size_t{1} << 30));
            left -= z.avail_in;
        }
        if (z.avail_out == 0) z.avail_out = static_cast<uInt>(std::min<size_t>(out.bytes.size() - z.total_out, size_t{1} << 30));
        result = deflate(&z, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    } while (result == Z_OK);
    size_t written = z.total_out;
    deflateEnd(&z);
    if (result != Z_STREAM_END) return body;
    out.bytes.resize(written);
    return out;
}

// One request to the service, held to the deadline, the size cap and the
// cancel check.
struct Exchange {
    bool ok = false;
    int status = 0;
    std::string body;
    std::string problem;  // why there is no reply, as "it ..." or "the ..."
    bool cancelled = false;
};

// holdMs: how long the service may hold the reply on purpose (a status
// call that waits for a change); the read timeout is that much longer.
Exchange Send(const std::string& service, const std::string& method, const std::string& path,
              const Body& body, const std::string& user, const std::string& password, long holdMs = 0,
              std::size_t cap = HouseholdDataClient::MaxReplyBytes()) {
    std::string base = service;
    bool secure = base.rfind("https://", 0) == 0;
    if (!secure && base.rfind("http://", 0) != 0) base = "http://" + base;
    httplib::Client http(base);
    long ms = HouseholdDataClient::TimeoutMs();
    http.set_connection_timeout(ms / 1000, (ms % 1000) * 1000);
    http.set_read_timeout((ms + holdMs) / 1000, ((ms + holdMs) % 1000) * 1000);
    http.set_write_timeout(ms / 1000, (ms % 1000) * 1000);
    http.set_basic_auth(user, password);
    if (secure) {
        const char* ca = std::getenv("PLEXA_CA_FILE");
        if (ca && *ca) http.set_ca_cert_path(ca);
        http.enable_server_certificate_verification(true);
    }

    enum class Stop { None, Cancelled, Deadline, TooLarge };
    std::atomic<Stop> stop{Stop::None};
    Exchange out;
    httplib::Request req;
    req.method = method;
    req.path = path;
    if (method == "POST") {
        req.body = body.bytes;
        req.set_header("Content-Type", body.type);
        if (!body.encoding.empty()) req.set_header("Content-Encoding", body.encoding);
    }
    req.response_handler = [&](const httplib::Response& r) {
        if (r.has_header("Content-Length") && std::strtoull(r.get_header_value("Content-Length").c_str(), nullptr, 10) > cap) {
            stop = Stop::TooLarge;
            return false;
        }
        return stop == Stop::None;
    };
    req.content_receiver = [&](const char* data, size_t n, uint64_t, uint64_t) {
        if (stop != Stop::None) return false;
        if (out.body.size() + n > cap) {
            stop = Stop::TooLarge;
            out.body.clear();
            out.body.shrink_to_fit();
            return false;
        }
        out.body.append(data, n);
        return true;
    };

    // A watchdog ends the request when it is cancelled or runs out of time,
    // also while no byte arrives at all.
    auto check = CurrentCancelCheck();
    auto started = std::chrono::steady_clock::now();
    auto deadline = started + std::chrono::milliseconds(HouseholdDataClient::DeadlineMs());
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(m);
        while (!done) {
            if (stop == Stop::None) {
                Stop why = check && check() ? Stop::Cancelled
                           : std::chrono::steady_clock::now() >= deadline ? Stop::Deadline
                                                                          : Stop::None;
                Stop none = Stop::None;
                if (why != Stop::None) stop.compare_exchange_strong(none, why);
            }
            // Repeated, since a connection still being opened cannot be
            // shut yet.
            if (stop != Stop::None) http.stop();
            cv.wait_for(lock, std::chrono::milliseconds(100));
        }
    });
    httplib::Result res = http.send(req);
    auto elapsed = std::chrono::steady_clock::now() - started;
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
    }
    cv.notify_all();
    watchdog.join();

    switch (stop.load()) {
        case Stop::Cancelled:
            out.cancelled = true;
            out.problem = "the request was cancelled";
            return out;
        case Stop::Deadline: {
            long limit = HouseholdDataClient::DeadlineMs();
            out.problem = "it did not finish within " +
                          (limit % 1000 == 0 ? std::to_string(limit / 1000) + " s" : std::to_string(limit) + " ms");
            out.body.clear();
            return out;
        }
        case Stop::TooLarge:
            out.problem = "its reply was larger than " + std::to_string(cap >> 20) + " MB";
            out.body.clear();
            return out;
        case Stop::None: break;
    }
    if (!res) {
        switch (res.error()) {
            case httplib::Error::Connection:
                out.problem = "the connection was refused (is the service running?)";
                break;
            case httplib::Error::Read:
                // A read that fails before the read timeout is a closed
                // connection, not a slow service.
                out.problem = elapsed < std::chrono::milliseconds(ms) - std::chrono::milliseconds(50)
                                  ? "it closed the connection before its reply was complete"
                                  : "it did not answer in time";
                break;
            case httplib::Error::Write: out.problem = "the request could not be sent"; break;
            case httplib::Error::ConnectionTimeout: out.problem = "the connection timed out"; break;
            case httplib::Error::SSLConnection: out.problem = "the secure connection could not be set up"; break;
            case httplib::Error::SSLServerVerification:
                out.problem = "its certificate could not be verified (PLEXA_CA_FILE names the CA to trust)";
                break;
            default: out.problem = httplib::to_string(res.error()); break;
        }
        out.body.clear();
        return out;
    }
    out.ok = true;
    out.status = res->status;
    return out;
}

[[noreturn]] void Raise(const Exchange& e, const std::string& message) {
    if (e.cancelled) throw HouseholdRequestCancelled("The household-data request was cancelled.");
    throw std::runtime_error(message);
}

}  // namespace

long HouseholdDataClient::TimeoutMs() { return EnvMs("PLEXA_HOUSEHOLD_TIMEOUT_MS", 30000); }

long HouseholdDataClient::DeadlineMs() { return EnvMs("PLEXA_HOUSEHOLD_DEADLINE_MS", 120000); }

void HouseholdDataClient::SetCancelCheck(std::function<bool()> check) {
    std::lock_guard<std::mutex> lock(cancelMutex);
    cancelCheck = std::move(check);
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

std::string HouseholdDataClient::Submit(const std::string& serviceHost, const std::string& gatewayPath,
                                        const std::string& resultDbfPath, const std::string& dataVendor, bool wait,
                                        const std::string& userName, const std::string& password,
                                        const std::string& analysisName) {
    if (geography_.empty() || categories_.empty()) return Fail("The household query is not complete.");
    host_ = serviceHost;
    gateway_ = "/" + gatewayPath;
    dbfPath_ = resultDbfPath;
    wait_ = wait;
    user_ = userName;
    password_ = password;
    submitted_ = true;
    cancelled_ = false;
    // The account travels in the login of the request, not in its body.
    Body body = Multipart({{"vendor", dataVendor},
                           {"analysis", analysisName},
                           {"geog", geography_},
                           {"qfields", categories_},
                           {"qlist", targets_},
                           {"wait", wait ? "1" : "0"},
                           {"areas", areas_}});
    // Compressed, unless the service says it cannot read that (415).
    Body gzipped = Gzipped(body);
    auto res = Send(host_, "POST", gateway_ + "/submit", gzipped, user_, password_);
    if (res.ok && res.status == 415 && !gzipped.encoding.empty()) {
        gzipped = Body();
        res = Send(host_, "POST", gateway_ + "/submit", body, user_, password_);
    }
    if (res.cancelled) {
        cancelled_ = true;
        return Fail("The household query was cancelled.");
    }
    if (!res.ok) return Fail("The household-data service at " + host_ + " could not be reached: " + res.problem + ".");
    std::string refusal = RefusalMessage(res.status, res.body, user_, AreaCount(areas_),
                                         gzipped.encoding.empty() ? body.bytes.size() : gzipped.bytes.size());
    if (!refusal.empty()) return Fail(refusal);
    SubmitReply reply = ReadSubmitReply(res.body);
    if (!reply.read) return Fail(reply.message);
    jobId_ = reply.job;
    if (!reply.message.empty()) message_ = reply.message;
    return reply.status;
}

void HouseholdDataClient::FetchResult(const std::string& serviceHost, const std::string& gatewayPath,
                                      const std::string& jobId, const std::string& dbfPath,
                                      const std::string& userName, const std::string& password) {
    std::string gateway = "/" + gatewayPath;
    auto status = Send(serviceHost, "GET", gateway + "/status?job=" + jobId, {}, userName, password);
    if (!status.ok) Raise(status, "The household-data service at " + serviceHost + " could not be reached: " + status.problem + ".");
    if (status.status == 401) throw std::runtime_error("The household-data service did not accept the login of " + userName + ".");
    JobState state = ReadJobState(status.body);
    if (state == JobState::Lost || state == JobState::Unreadable)
        throw std::runtime_error("The household-data service knows no job " + jobId + ".");
    if (state != JobState::Finished) throw std::runtime_error("Job " + jobId + " has not finished yet; try again later.");
    auto table = Send(serviceHost, "GET", gateway + "/result?job=" + jobId, {}, userName, password);
    if (!table.ok) Raise(table, "The result table of job " + jobId + " could not be fetched: " + table.problem + ".");
    if (table.status != 200) throw std::runtime_error("The result table of job " + jobId + " could not be fetched.");
    // Only a whole table replaces what is there.
    std::string problem = DbfProblem(table.body, {"TOTAL", "TQ"});
    if (!problem.empty())
        throw std::runtime_error("The service sent no usable result table for job " + jobId + " (" + problem +
                                 "); " + dbfPath + " was not changed.");
    if (!host::platform::WriteFileAtomically(dbfPath, table.body))
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
    if (!submitted_) throw std::runtime_error("No household query has been submitted.");
    // A job that is not waited for is done for us once it is accepted: its
    // table is fetched later.
    if (!wait_) return 1;
    // The service holds the reply until the job changes, at most about a
    // second: a caller that polls once a step waits without spinning.
    constexpr long kHoldMs = 1000;
    auto res = Send(host_, "GET", gateway_ + "/status?job=" + jobId_ + "&wait=" + std::to_string(kHoldMs), {}, user_,
                    password_, kHoldMs);
    if (!res.ok) Raise(res, "The household-data service at " + host_ + " stopped answering: " + res.problem + ".");
    switch (ReadJobState(res.body)) {
        case JobState::Unreadable:
            throw std::runtime_error("The household-data service sent a job status that could not be read.");
        case JobState::Lost:
            throw std::runtime_error("The household-data service lost job " + jobId_ + ": " + ReplyValue(res.body, "message"));
        case JobState::Running: return 2;
        case JobState::Finished: break;
    }
    // A result table has one row of a few dozen bytes per area: a level of
    // millions of areas may pass the cap of other replies.
    std::size_t cap = std::max(MaxReplyBytes(), AreaCount(areas_) * 256);
    auto table = Send(host_, "GET", gateway_ + "/result?job=" + jobId_, {}, user_, password_, 0, cap);
    if (!table.ok)
        Raise(table, "The result table of job " + jobId_ + " could not be fetched from the household-data service: " +
                         table.problem + ".");
    if (table.status != 200)
        throw std::runtime_error("The result table of job " + jobId_ + " could not be fetched from the household-data service.");
    // Whole or not at all: the function reads the table next.
    if (!host::platform::WriteFileAtomically(dbfPath_, table.body))
        throw std::runtime_error("The result table could not be written to " + dbfPath_ + ".");
    return 1;
}

}  // namespace pxcp
