// Client of the household-data service: hands over the geography, the
// query and the account, submits the job (its fields as multipart form
// data, of any number of areas, compressed with gzip unless the service
// refuses that) and follows it; when the job is done and the caller
// waits, the result table is fetched to the DBF path given at submission,
// straight to the disk. Replies are plain "key=value" lines over HTTP, or
// HTTPS when the service address starts with https://.
//
// Every request logs in (HTTP basic authentication with the account given
// at submission; the password never goes into an address), ends by its
// deadline, refuses replies larger than its cap without holding them, and
// stops within a tenth of a second once the cancel check says so. Only a
// job id of the service's form goes into an address, and nothing a reply
// says is shown with its control characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "service/HouseholdReplies.h"

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
    // The largest reply accepted: 64 MB. A result table may be larger: its
    // cap follows the number of areas asked for (256 bytes each) and it goes
    // to the disk as it arrives, not into memory.
    static std::size_t MaxReplyBytes() { return std::size_t{64} << 20; }
    // The largest result table fetched for a job whose areas are not known
    // here: 4 GB (a table of 8 million areas is some 300 MB).
    static std::uint64_t MaxTableBytes() { return std::uint64_t{4} << 30; }

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

}  // namespace pxcp
