// Reading what the household-data service replies: its "key=value"
// lines, its refusals in plain words, its job ids and result tables, and
// its texts made safe to show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pxcp {

// Reads "key=value" lines; missing keys are empty.
std::string ReplyValue(const std::string& body, const std::string& key);

// Text from a reply as it may be shown to the user: control characters
// (terminal escapes among them) and bytes that are not UTF-8 become '?',
// and it is cut after about most bytes.
std::string Printable(std::string_view text, size_t most = 200);

// Whether the text is a job id as the service gives them: 1 to 64 ASCII
// letters, digits, '-' or '_' ("HH" and 16 hex digits from plexa-hhd).
// Nothing else is put into the address of a request or shown as a job.
bool ValidJobId(const std::string& id);

// The text percent-encoded for a query value of an address.
std::string UrlComponent(const std::string& text);

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

// What a refusal of a status or result request for job (an HTTP status of
// 400 or more) means, in one plain sentence; empty below 400.
std::string JobRefusal(int status, const std::string& body, const std::string& user, const std::string& job);

// Why the first bytes (head, holding at least the header) of a table of
// size bytes are not a whole dBASE table with the fields; empty when they
// are.
std::string DbfTableProblem(const std::string& head, uint64_t size, const std::vector<std::string>& fields);

}  // namespace pxcp
