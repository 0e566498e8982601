// Client of the household-data service: hands over the geography, the
// query and the account, submits the job (its fields as multipart form
// data, of any number of areas, compressed with gzip unless the service
// refuses that) and follows it; when the job is done and the caller
// waits, the result table is fetched to the DBF path given at submission. Replies are plain "key=value" lines over HTTP, or
// HTTPS when the service address starts with https://.
//
// Every request logs in (HTTP basic authentication with the account given
// at submission), ends by its deadline, refuses replies larger than
// MaxReplyBytes() without holding them, and stops within a tenth of a
// second once the cancel check says so.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pxcp {

// Raised when a request to the service was given up because the cancel
// check asked for it.
class HouseholdRequestCancelled : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HouseholdDataClient {
public:
    HouseholdDataClient();
    ~HouseholdDataClient();

    // Status texts: "1" accepted, "0" refused (LastMessage says why).
    std::string SetGeography(const std::string& geographyCode, const std::string& areaList);
    std::string SetQuery(const std::string& categoryList, const std::string& targetList);
    std::string Submit(const std::string& serviceHost, const std::string& gatewayPath, const std::string& resultDbfPath,
                       const std::string& dataVendor, bool wait, const std::string& userName,
                       const std::string& password, const std::string& analysisName);
    std::string GetJobID() const { return jobId_; }
    // 1 when the job is finished (and, when waiting, its table is written).
    // Raises with a clear message when the service fails on the way, and
    // HouseholdRequestCancelled when the cancel check stopped the request.
    long GetStatus();

    const std::string& LastMessage() const { return message_; }
    // True when the last submission was given up because the cancel check
    // asked for it, rather than refused or lost.
    bool Cancelled() const { return cancelled_; }

    // Fetches the result table of a job that was submitted without waiting,
    // logging in as the account that submitted it; raises with a clear
    // message when the service has none.
    static void FetchResult(const std::string& serviceHost, const std::string& gatewayPath, const std::string& jobId,
                            const std::string& dbfPath, const std::string& userName, const std::string& password);
    // Why bytes are not a whole dBASE table holding the fields; empty when
    // they are.
    static std::string DbfProblem(const std::string& bytes, const std::vector<std::string>& fields);

    // Where the program finds the service: PLEXA_HOUSEHOLD_SERVICE
    // ("host:port", "http://host:port" or "https://host:port") or the
    // local default. Certificates of an https service are checked against
    // the CA file named by PLEXA_CA_FILE, or the system's.
    static std::string ServiceHost();
    // Milliseconds a connection may take to open and a reply may stay
    // silent: PLEXA_HOUSEHOLD_TIMEOUT_MS or 30 s.
    static long TimeoutMs();
    // Milliseconds a whole request may take, however slowly its reply
    // arrives: PLEXA_HOUSEHOLD_DEADLINE_MS or 120 s.
    static long DeadlineMs();
    // The largest reply accepted: 64 MB.
    static std::size_t MaxReplyBytes() { return std::size_t{64} << 20; }

    // Asked about ten times a second while a request is under way, from a
    // thread of its own: true gives the request up. An empty function
    // (the default) never cancels. The check must be safe to call from
    // any thread, e.g. read an atomic flag.
    static void SetCancelCheck(std::function<bool()> check);

private:
    std::string Fail(const std::string& message);
    std::string geography_, areas_, categories_, targets_;
    std::string host_, gateway_, dbfPath_, jobId_, message_, user_, password_;
    bool wait_ = true;
    bool submitted_ = false;
    bool cancelled_ = false;
};

// Reads "key=value" lines; missing keys are empty.
std::string ReplyValue(const std::string& body, const std::string& key);

// What a reply to a submission says. status is what Submit returns ("1"
// accepted, "0" or the service's own code when not); job is the job it
// names; message says why a submission was not accepted. A reply without a
// status is not read at all (read false): it names no job.
struct SubmitReply {
    bool read = false;
    std::string status, job, message;
};
SubmitReply ReadSubmitReply(const std::string& body);

// The number of areas of an area list ("a","b",...).
size_t AreaCount(const std::string& areaList);
// What a refusal of a submission by the service (an HTTP status of 400 or
// more) means, in one plain sentence that names the status; empty for a
// status below 400. A 413 counts the areas and the bytes that were sent.
std::string RefusalMessage(int status, const std::string& body, const std::string& user, size_t areas, size_t bytes);

// What a status reply says of a job: no status at all, "0" (the service
// knows the job no more), "1" (finished) or anything else (still running).
enum class JobState { Unreadable, Lost, Finished, Running };
JobState ReadJobState(const std::string& body);

}  // namespace pxcp
