// Client of the household-data service: hands over the geography, the
// query and the account, submits the job and follows it; when the job is
// done and the caller waits, the result table is fetched to the DBF path
// given at submission. Replies are plain "key=value" lines over HTTP.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace httplib {
class Client;
}

namespace pxcp {

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
    // Raises with a clear message when the service fails on the way.
    long GetStatus();

    const std::string& LastMessage() const { return message_; }

    // Fetches the result table of a job that was submitted without waiting;
    // raises with a clear message when the service has none.
    static void FetchResult(const std::string& serviceHost, const std::string& gatewayPath, const std::string& jobId,
                            const std::string& dbfPath);
    // Why bytes are not a whole dBASE table holding the fields; empty when
    // they are.
    static std::string DbfProblem(const std::string& bytes, const std::vector<std::string>& fields);

    // Where the program finds the service: PLEXA_HOUSEHOLD_SERVICE
    // ("host:port") or the local default.
    static std::string ServiceHost();
    // Milliseconds a request may take: PLEXA_HOUSEHOLD_TIMEOUT_MS or 30 s.
    static long TimeoutMs();

private:
    std::string Fail(const std::string& message);
    std::string geography_, areas_, categories_, targets_;
    std::string host_, gateway_, dbfPath_, jobId_, message_;
    bool wait_ = true;
    std::unique_ptr<httplib::Client> http_;
};

// Reads "key=value" lines; missing keys are empty.
std::string ReplyValue(const std::string& body, const std::string& key);

}  // namespace pxcp
