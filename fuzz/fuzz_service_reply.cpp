// Replies of the household-data service: a submission reply, a job status
// reply and a result table, each read as the client reads them.
#include <string>

#include "FuzzSupport.h"
#include "service/HouseholdDataClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string body(reinterpret_cast<const char*>(data), size);

    for (const char* key : {"status", "job", "message"}) {
        std::string value = pxcp::ReplyValue(body, key);
        if (value.find('\n') != std::string::npos) pxfuzz::Violated("a reply value runs over a line");
    }

    auto submit = pxcp::ReadSubmitReply(body);
    bool accepted = submit.status == "1" || submit.status == "1.0";
    if (accepted && submit.job.empty()) pxfuzz::Violated("a submission was accepted without a job");
    if (!submit.read && (submit.status != "0" || !submit.job.empty() || submit.message.empty()))
        pxfuzz::Violated("an unreadable submission reply was taken for an answer");
    if (!accepted && submit.message.empty()) pxfuzz::Violated("a refused submission does not say why");

    (void)pxcp::ReadJobState(body);
    (void)pxcp::HouseholdDataClient::DbfProblem(body, {"TOTAL", "TQ"});
    return 0;
}
