#include "service/HouseholdDataClient.h"

#include <algorithm>

#include <fcntl.h>
#include <httplib.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

namespace pxcp {


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

// A result table on its way to the disk: written under a scratch name
// beside its path and renamed over it only when whole, so that the table
// that was there stays until the new one is complete.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& target) : target_(std::filesystem::absolute(target)) {
        std::error_code ec;
        std::filesystem::create_directories(target_.parent_path(), ec);
        name_ = (target_.parent_path() / ("." + target_.filename().string() + ".XXXXXX")).string();
        fd_ = mkstemp(name_.data());
        if (fd_ < 0) name_.clear();
        else fchmod(fd_, 0644);
    }
    ~ScratchFile() {
        if (fd_ >= 0) close(fd_);
        if (!name_.empty()) unlink(name_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    bool Made() const { return fd_ >= 0; }
    bool Write(const char* data, size_t n) {
        if (head_.size() < 12) head_.append(data, std::min(n, 12 - head_.size()));
        while (n > 0) {
            ssize_t w = write(fd_, data, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            data += w;
            n -= static_cast<size_t>(w);
            size_ += static_cast<uint64_t>(w);
        }
        return true;
    }
    uint64_t Size() const { return size_; }
    // Whether the first bytes written begin a dBASE table (a version byte
    // of dBASE III or IV, with or without memo).
    bool LooksLikeTable() const {
        if (head_.empty()) return false;
        unsigned char v = static_cast<unsigned char>(head_[0]);
        return v == 0x03 || v == 0x04 || v == 0x83 || v == 0x8B || v == 0x30 || v == 0xF5;
    }
    // The size the dBASE header written so far gives the table, with its
    // end-of-file mark; 0 until the header's first 12 bytes are in.
    uint64_t DeclaredSize() const {
        if (head_.size() < 12 || !LooksLikeTable()) return 0;
        auto u8 = [&](size_t i) { return static_cast<uint64_t>(static_cast<unsigned char>(head_[i])); };
        uint64_t records = u8(4) | u8(5) << 8 | u8(6) << 16 | u8(7) << 24;
        return (u8(8) | u8(9) << 8) + records * (u8(10) | u8(11) << 8) + 1;
    }
    // The first bytes written, at most n.
    std::string Head(size_t n) const {
        std::string head(std::min<uint64_t>(n, size_), '\0');
        ssize_t r = pread(fd_, head.data(), head.size(), 0);
        head.resize(r > 0 ? static_cast<size_t>(r) : 0);
        return head;
    }
    bool Commit() {
        bool ok = fsync(fd_) == 0;
        ok = close(fd_) == 0 && ok;
        fd_ = -1;
        if (ok) ok = rename(name_.c_str(), target_.c_str()) == 0;
        if (ok) name_.clear();
        return ok;
    }

private:
    std::filesystem::path target_;
    std::string name_, head_;
    int fd_ = -1;
    uint64_t size_ = 0;
};

// One request to the service, held to the deadline, the size cap and the
// cancel check.
struct Exchange {
    bool ok = false;
    int status = 0;
    std::string body;      // the reply, unless it went to the file
    std::string problem;  // why there is no reply, as "it ..." or "the ..."
    bool cancelled = false;
};

// The host name of a service address ("https://name:port").
std::string HostName(const std::string& base) {
    std::string h = base.substr(base.find("://") + 3);
    if (!h.empty() && h[0] == '[') return h.substr(1, h.find(']') - 1);
    return h.substr(0, h.find_first_of(":/"));
}

// Why a secure connection was not made, in words: the CA file, the host
// name or the trust of the certificate.
std::string TlsProblem(httplib::Error error, long verifyResult, const std::string& base, const char* ca) {
    std::string caFile = ca && *ca ? std::string("the CA file ") + ca + " (PLEXA_CA_FILE)" : "";
    if (error == httplib::Error::SSLLoadingCerts)
        return caFile.empty() ? "the system's trusted certificates could not be loaded"
                              : caFile + " holds no certificate that can be read";
    if (error == httplib::Error::SSLConnection) return "the secure connection could not be set up (is it an HTTPS service?)";
    if (verifyResult == X509_V_OK) return "its certificate is for another host name than " + HostName(base);
    std::string why = X509_verify_cert_error_string(verifyResult);
    if (caFile.empty())
        return "its certificate is not trusted (" + why + "); PLEXA_CA_FILE may name the CA file to trust";
    return "its certificate is not vouched for by " + caFile + " (" + why + ")";
}

// holdMs: how long the service may hold the reply on purpose (a status
// call that waits for a change); the read timeout is that much longer.
// A reply of status 200 goes to file when one is given, up to cap bytes;
// other replies are held in memory, up to MaxReplyBytes().
Exchange Send(const std::string& service, const std::string& method, const std::string& path,
              Body body, const std::string& user, const std::string& password, long holdMs = 0,
              uint64_t cap = HouseholdDataClient::MaxReplyBytes(), ScratchFile* file = nullptr) {
    std::string base = service;
    bool secure = base.rfind("https://", 0) == 0;
    if (!secure && base.rfind("http://", 0) != 0) base = "http://" + base;
    Exchange out;
    const char* ca = std::getenv("PLEXA_CA_FILE");
    if (secure && ca && *ca) {
        // Said here in words: the library would only report a code.
        if (FILE* f = std::fopen(ca, "rb")) {
            std::fclose(f);
        } else {
            out.problem = std::string("the CA file ") + ca + " (PLEXA_CA_FILE) cannot be read: " + std::strerror(errno);
            return out;
        }
    }
    httplib::Client http(base);
    long ms = HouseholdDataClient::TimeoutMs();
    http.set_connection_timeout(ms / 1000, (ms % 1000) * 1000);
    http.set_read_timeout((ms + holdMs) / 1000, ((ms + holdMs) % 1000) * 1000);
    http.set_write_timeout(ms / 1000, (ms % 1000) * 1000);
    // The account goes in the Authorization header only, never into the
    // address, where logs and proxies would keep it.
    http.set_basic_auth(user, password);
    if (secure) {
        if (ca && *ca) http.set_ca_cert_path(ca);
        http.enable_server_certificate_verification(true);
    }

    enum class Stop { None, Cancelled, Deadline, TooLarge, LongerThanTable, NotWritten };
    std::atomic<Stop> stop{Stop::None};
    httplib::Request req;
    req.method = method;
    req.path = path;
    if (method == "POST") {
        req.body = std::move(body.bytes);
        req.set_header("Content-Type", body.type);
        if (!body.encoding.empty()) req.set_header("Content-Encoding", body.encoding);
    }
    bool intoFile = false;
    uint64_t received = 0;
    req.response_handler = [&](const httplib::Response& r) {
        intoFile = file && r.status == 200;
        uint64_t most = intoFile ? cap : HouseholdDataClient::MaxReplyBytes();
        if (r.has_header("Content-Length") && std::strtoull(r.get_header_value("Content-Length").c_str(), nullptr, 10) > most) {
            stop = Stop::TooLarge;
            return false;
        }
        return stop == Stop::None;
    };
    req.content_receiver = [&](const char* data, size_t n, uint64_t, uint64_t) {
        if (stop != Stop::None) return false;
        received += n;
        if (received > (intoFile ? cap : HouseholdDataClient::MaxReplyBytes())) {
            stop = Stop::TooLarge;
            out.body.clear();
            out.body.shrink_to_fit();
            return false;
        }
        if (!intoFile) {
            out.body.append(data, n);
            return true;
        }
        if (!file->Write(data, n)) {
            stop = Stop::NotWritten;
            return false;
        }
        // A table is no longer than its header says (a few bytes of slack
        // for writers that pad), and what it says must fit the cap: an
        // endless reply is stopped as soon as its header is in. What does
        // not begin as a table is held to the cap of other replies.
        uint64_t declared = file->DeclaredSize();
        if (declared > cap || (declared > 0 && received > declared + 512)) {
            stop = declared > cap ? Stop::TooLarge : Stop::LongerThanTable;
            return false;
        }
        if (received >= 12 && !file->LooksLikeTable() && received > HouseholdDataClient::MaxReplyBytes()) {
            stop = Stop::TooLarge;
            intoFile = false;  // for the message: the cap of other replies
            return false;
        }
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
            out.problem = "its reply was larger than " +
                          std::to_string((intoFile ? cap : HouseholdDataClient::MaxReplyBytes()) >> 20) + " MB";
            out.body.clear();
            return out;
        case Stop::LongerThanTable:
            out.problem = "its reply went on past the end of the table it holds";
            return out;
        case Stop::NotWritten:
            out.problem = "its reply could not be written to the disk: " + std::string(std::strerror(errno));
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
            case httplib::Error::BindIPAddress:
            case httplib::Error::Canceled:
            case httplib::Error::Unknown:
                out.problem = "the connection failed";
                break;
            case httplib::Error::SSLConnection:
            case httplib::Error::SSLLoadingCerts:
            case httplib::Error::SSLServerVerification:
                out.problem = TlsProblem(res.error(), http.get_openssl_verify_result(), base, ca);
                break;
            case httplib::Error::UnsupportedMultipartBoundaryChars:
            case httplib::Error::Compression: out.problem = "the request could not be made"; break;
            case httplib::Error::ExceedRedirectCount: out.problem = "it redirected the request too often"; break;
            default: out.problem = "the exchange failed"; break;
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
    jobId_.clear();
    // The account travels in the login of the request, not in its body.
    auto body = [&] {
        return Multipart({{"vendor", dataVendor},
                          {"analysis", analysisName},
                          {"geog", geography_},
                          {"qfields", categories_},
                          {"qlist", targets_},
                          {"wait", wait ? "1" : "0"},
                          {"areas", areas_}});
    };
    // Compressed, unless the service says it cannot read that (415); the
    // plain body is made again then rather than held beside the
    // compressed one (a level of millions of areas is 100 MB of text).
    Body sent = Gzipped(body());
    size_t bytes = sent.bytes.size();
    bool compressed = !sent.encoding.empty();
    auto res = Send(host_, "POST", gateway_ + "/submit", std::move(sent), user_, password_);
    if (res.ok && res.status == 415 && compressed) {
        sent = body();
        bytes = sent.bytes.size();
        res = Send(host_, "POST", gateway_ + "/submit", std::move(sent), user_, password_);
    }
    if (res.cancelled) {
        cancelled_ = true;
        return Fail("The household query was cancelled.");
    }
    if (!res.ok) return Fail("The household-data service at " + host_ + " could not be reached: " + res.problem + ".");
    std::string refusal = RefusalMessage(res.status, res.body, user_, AreaCount(areas_), bytes);
    if (!refusal.empty()) return Fail(refusal);
    SubmitReply reply = ReadSubmitReply(res.body);
    if (!reply.read) return Fail(reply.message);
    jobId_ = reply.job;
    if (!reply.message.empty()) message_ = reply.message;
    return reply.status;
}

namespace {

// Fetches the result table of a finished job to path, up to cap bytes,
// through a scratch file; the table that was there stays unless the new
// one is whole. needed: fields the table must have (none: not checked).
void FetchTable(const std::string& service, const std::string& gateway, const std::string& job,
                const std::string& path, const std::string& user, const std::string& password, uint64_t cap,
                const std::vector<std::string>& needed) {
    ScratchFile file(path);
    if (!file.Made())
        throw std::runtime_error("The result table could not be written to " + path + ": " + std::strerror(errno) +
                                 "; nothing was changed.");
    auto table = Send(service, "GET", gateway + "/result?job=" + UrlComponent(job), {}, user, password, 0, cap, &file);
    if (!table.ok)
        Raise(table, "The result table of job " + job + " could not be fetched from the household-data service: " +
                         table.problem + "; " + path + " was not changed.");
    std::string refusal = JobRefusal(table.status, table.body, user, job);
    if (!refusal.empty()) throw std::runtime_error(refusal);
    if (table.status != 200)
        throw std::runtime_error("The result table of job " + job + " could not be fetched from the household-data service.");
    if (!needed.empty()) {
        std::string problem = DbfTableProblem(file.Head(std::size_t{1} << 16), file.Size(), needed);
        if (!problem.empty())
            throw std::runtime_error("The service sent no usable result table for job " + job + " (" + problem +
                                     "); " + path + " was not changed.");
    }
    if (!file.Commit())
        throw std::runtime_error("The result table could not be written to " + path + ": " + std::strerror(errno) +
                                 "; nothing was changed.");
}

}  // namespace

void HouseholdDataClient::FetchResult(const std::string& serviceHost, const std::string& gatewayPath,
                                      const std::string& jobId, const std::string& dbfPath,
                                      const std::string& userName, const std::string& password) {
    if (!ValidJobId(jobId))
        throw std::runtime_error("\"" + Printable(jobId, 40) +
                                 "\" is not a job id of the household-data service (1 to 64 letters, digits, - or _).");
    std::string gateway = "/" + gatewayPath;
    auto status = Send(serviceHost, "GET", gateway + "/status?job=" + UrlComponent(jobId), {}, userName, password);
    if (!status.ok) Raise(status, "The household-data service at " + serviceHost + " could not be reached: " + status.problem + ".");
    std::string refusal = JobRefusal(status.status, status.body, userName, jobId);
    if (!refusal.empty()) throw std::runtime_error(refusal);
    JobState state = ReadJobState(status.body);
    if (state == JobState::Lost || state == JobState::Unreadable)
        throw std::runtime_error("The household-data service knows no job " + jobId + ".");
    if (state != JobState::Finished) throw std::runtime_error("Job " + jobId + " has not finished yet; try again later.");
    FetchTable(serviceHost, gateway, jobId, dbfPath, userName, password, MaxTableBytes(), {"TOTAL", "TQ"});
}

std::string HouseholdDataClient::DbfProblem(const std::string& bytes, const std::vector<std::string>& fields) {
    return DbfTableProblem(bytes, bytes.size(), fields);
}

long HouseholdDataClient::GetStatus() {
    if (!submitted_) throw std::runtime_error("No household query has been submitted.");
    // A job that is not waited for is done for us once it is accepted: its
    // table is fetched later.
    if (!wait_) return 1;
    // The service holds the reply until the job changes, at most about a
    // second: a caller that polls once a step waits without spinning.
    constexpr long kHoldMs = 1000;
    auto res = Send(host_, "GET", gateway_ + "/status?job=" + UrlComponent(jobId_) + "&wait=" + std::to_string(kHoldMs),
                    {}, user_, password_, kHoldMs);
    if (!res.ok) Raise(res, "The household-data service at " + host_ + " stopped answering: " + res.problem + ".");
    // A job the service no longer knows is lost, not refused.
    if (res.status != 404) {
        std::string refusal = JobRefusal(res.status, res.body, user_, jobId_);
        if (!refusal.empty()) throw std::runtime_error(refusal);
    }
    switch (ReadJobState(res.body)) {
        case JobState::Unreadable:
            throw std::runtime_error("The household-data service sent a job status that could not be read.");
        case JobState::Lost:
            throw std::runtime_error("The household-data service lost job " + jobId_ + ": " +
                                     Printable(ReplyValue(res.body, "message")));
        case JobState::Running: return 2;
        case JobState::Finished: break;
    }
    // A result table has one row of a few dozen bytes per area: its cap
    // follows the level asked for, and it goes to the disk as it comes.
    uint64_t cap = std::max<uint64_t>(MaxReplyBytes(), uint64_t{AreaCount(areas_)} * 256);
    // Whole or not at all: the function reads the table next.
    FetchTable(host_, gateway_, jobId_, dbfPath_, user_, password_, cap, {});
    return 1;
}

}  // namespace pxcp
