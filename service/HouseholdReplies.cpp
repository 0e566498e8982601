#include "service/HouseholdReplies.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>

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

std::string Printable(std::string_view text, size_t most) {
    std::string out;
    auto u8 = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    for (size_t at = 0; at < text.size() && out.size() < most;) {
        unsigned char c = u8(at);
        size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        bool whole = length > 0 && at + length <= text.size();
        for (size_t k = 1; whole && k < length; ++k) whole = (u8(at + k) & 0xC0) == 0x80;
        // Control characters of both sets: C1 ones are C2 80 to C2 9F in UTF-8.
        bool control = length == 1 ? c < 0x20 || c == 0x7F : length == 2 && c == 0xC2 && u8(at + 1) < 0xA0;
        if (!whole || control) {
            out += '?';
            at += whole ? length : 1;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

bool ValidJobId(const std::string& id) {
    if (id.empty() || id.size() > 64) return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
}

std::string UrlComponent(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
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
        std::string why = Printable(ReplyValue(body, "message"));
        reply.message = "The household-data service refused the query" + (why.empty() ? std::string(".") : ": " + why);
    } else if (reply.job.empty()) {
        reply.status = "0";
        reply.message = "The household-data service accepted the query but named no job.";
    } else if (!ValidJobId(reply.job)) {
        // It goes into the address of every later request, and is shown.
        reply.message = "The household-data service named its job \"" + Printable(reply.job, 40) +
                        "\", which is not a job id; the query is not followed.";
        reply.status = "0";
        reply.job.clear();
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
    std::string why = Printable(ReplyValue(body, "message"));
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

// What a refusal of a status or result request means, in one line; empty
// below 400.
std::string JobRefusal(int status, const std::string& body, const std::string& user, const std::string& job) {
    if (status < 400) return "";
    std::string why = Printable(ReplyValue(body, "message"));
    std::string said = " (HTTP " + std::to_string(status) + ")" + (why.empty() ? "" : ": " + why) + ".";
    switch (status) {
        case 401: return "The household-data service did not accept the login of " + user + said;
        case 404: return "The household-data service knows no job " + job + " of " + user + said;
        case 429:
        case 503: return "The household-data service is too busy to answer for job " + job + said + " Try again later.";
        default: break;
    }
    if (status >= 500) return "The household-data service failed while answering for job " + job + said;
    return "The household-data service refused the request for job " + job + said;
}

// Why the first bytes of a table of size bytes are not a whole dBASE table
// holding the fields; empty when they are. head holds at least the header.
std::string DbfTableProblem(const std::string& head, uint64_t size, const std::vector<std::string>& fields) {
    auto u8 = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(head[i])); };
    if (head.size() < 33) return "too short to be a dBASE table";
    unsigned version = u8(0) & 0x07;
    if (version != 3 && version != 4) return "not a dBASE table";
    unsigned long records = u8(4) | u8(5) << 8 | u8(6) << 16 | static_cast<unsigned long>(u8(7)) << 24;
    unsigned header = u8(8) | u8(9) << 8, recordLength = u8(10) | u8(11) << 8;
    if (header < 33 || header > head.size() || recordLength == 0) return "a damaged dBASE header";
    if (size < header + static_cast<unsigned long long>(records) * recordLength) return "the table is cut short";
    std::vector<std::string> names;
    for (size_t at = 32; at + 32 <= header && head[at] != '\x0d'; at += 32) {
        std::string name(head.data() + at, 11);
        names.push_back(name.substr(0, name.find('\0')));
    }
    for (auto& f : fields)
        if (std::find(names.begin(), names.end(), f) == names.end()) return "it has no field " + f;
    return "";
}

}  // namespace pxcp
