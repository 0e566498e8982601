#include "host/framework/ReportContent.h"

#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

#include "host/platform/Locale.h"

namespace host::report {

std::optional<double> ReportTotal::Share() const {
    if (!whole || *whole <= 0) return std::nullopt;
    return 100.0 * found / *whole;
}

std::string FormatReportNumber(double value, int maxDecimals) {
    const auto& loc = platform::CurrentLocale();
    // Whole numbers stay whole; others keep up to maxDecimals, without trailing zeros.
    std::string c = platform::FormatCFixed(value, std::max(0, maxDecimals));
    if (c.find('.') != std::string::npos) {
        while (c.back() == '0') c.pop_back();
        if (c.back() == '.') c.pop_back();
    }
    if (c == "-0") c = "0";
    bool negative = !c.empty() && c[0] == '-';
    std::string digits = c.substr(negative ? 1 : 0);
    size_t point = digits.find('.');
    std::string whole = digits.substr(0, point), fraction = point == std::string::npos ? "" : digits.substr(point + 1);
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += loc.groupSeparator;
        grouped += whole[i];
    }
    std::string out = (negative ? "-" : "") + grouped;
    if (!fraction.empty()) out += loc.decimalSeparator + fraction;
    return out;
}

std::string FormatReportPercent(double percent) { return platform::FormatFixed(percent, 1) + " %"; }

namespace {

std::string Lower(std::string s) {
    for (auto& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

// "live births": a caption inside a sentence, unless it reads as a name
// (two capitals, "ZIP codes").
std::string InSentence(const std::string& caption) {
    if (caption.size() > 1 && std::isupper(static_cast<unsigned char>(caption[0])) &&
        std::isupper(static_cast<unsigned char>(caption[1])))
        return caption;
    return Lower(caption);
}

}  // namespace

std::string ReportContent::SummarySentence() const {
    std::string areas = level.empty() ? "areas" : InSentence(level);
    std::string s = FormatReportNumber(static_cast<double>(areasFound), 0);
    if (areasTotal) s += " of " + FormatReportNumber(static_cast<double>(*areasTotal), 0);
    s += " " + areas;
    std::vector<std::string> shares;
    for (auto& t : totals)
        if (auto share = t.Share()) shares.push_back(FormatReportPercent(*share) + " of " + InSentence(t.caption));
    for (size_t i = 0; i < shares.size(); ++i)
        s += (i == 0 ? ", holding " : i + 1 == shares.size() ? " and " : ", ") + shares[i];
    return s;
}

ReportTable ReportContent::TotalsTable() const {
    ReportTable t;
    t.columns = {"Count", "Areas found", "Study area", "Share"};
    t.numeric = {false, true, true, true};
    for (auto& total : totals) {
        auto share = total.Share();
        t.rows.push_back({total.caption, FormatReportNumber(total.found),
                          total.whole ? FormatReportNumber(*total.whole) : "", share ? FormatReportPercent(*share) : ""});
    }
    return t;
}

ReportTable ReportContent::ClassesTable() const {
    ReportTable t;
    t.columns = {"Class", "From", "To", "Areas"};
    t.numeric = {false, true, true, true};
    for (auto& c : classes)
        t.rows.push_back({c.label, FormatReportNumber(c.lower), FormatReportNumber(c.upper),
                          FormatReportNumber(static_cast<double>(c.count), 0)});
    return t;
}

std::vector<std::pair<std::string, std::string>> ReportContent::Particulars() const {
    std::vector<std::pair<std::string, std::string>> p;
    auto add = [&](const char* label, const std::string& value) {
        if (!value.empty()) p.emplace_back(label, value);
    };
    add("Analysis", name);
    add("Comment", comment);
    add("Date", date);
    add("Dataset", dataset);
    add("Level", level);
    add("Year", year);
    add("Way", way);
    return p;
}

namespace {

void TextTable(std::ostringstream& out, const ReportTable& t) {
    std::vector<size_t> width(t.columns.size());
    auto length = [](const std::string& s) {
        size_t n = 0;
        for (unsigned char ch : s) n += (ch & 0xC0) != 0x80;  // characters, not bytes
        return n;
    };
    for (size_t c = 0; c < t.columns.size(); ++c) {
        width[c] = length(t.columns[c]);
        for (auto& r : t.rows) width[c] = std::max(width[c], length(r[c]));
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string s;
        for (size_t c = 0; c < cells.size(); ++c) {
            std::string pad(width[c] - length(cells[c]), ' ');
            bool right = c < t.numeric.size() && t.numeric[c];
            s += (c ? "  " : "") + (right ? pad + cells[c] : cells[c] + (c + 1 < cells.size() ? pad : ""));
        }
        out << s << "\n";
    };
    line(t.columns);
    for (auto& r : t.rows) line(r);
}

}  // namespace

std::string ReportContent::ToText() const {
    std::ostringstream out;
    for (auto& [label, value] : Particulars()) out << label << ": " << value << "\n";
    out << "\nCriteria\n";
    for (auto& l : criteria) {
        // A line's depth is its leading tabs, four blanks each on a console.
        size_t depth = l.find_first_not_of('\t');
        if (depth == std::string::npos) out << "\n";
        else out << std::string(2 + 4 * depth, ' ') << l.substr(depth) << "\n";
    }
    out << "\nSummary\n  " << SummarySentence() << "\n";
    if (!totals.empty()) {
        out << "\n";
        TextTable(out, TotalsTable());
    }
    if (!classes.empty()) {
        out << "\nClasses\n";
        TextTable(out, ClassesTable());
    }
    out << "\nAreas found\n";
    TextTable(out, areas);
    if (!profile.Empty()) {
        out << "\nCustomer profile\n";
        TextTable(out, profile);
    }
    return out.str();
}

PaperSize PaperSizeOfLocale(const std::string& localeName) {
    // The territories whose paper is Letter, as the C library's locales have it.
    static const std::set<std::string> letter = {"US", "CA", "MX", "PR", "PH", "CL", "CO", "VE",
                                                 "CR", "GT", "PA", "SV", "NI", "HN", "DO"};
    std::string territory;
    if (auto under = localeName.find('_'); under != std::string::npos) {
        territory = localeName.substr(under + 1, 2);
        for (auto& ch : territory) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    if (letter.count(territory)) return {"Letter", 612, 792};
    return {"A4", 595.28, 841.89};
}

PaperSize UserPaperSize() {
    for (const char* name : {"LC_ALL", "LC_PAPER", "LANG"})
        if (const char* v = std::getenv(name); v && *v) return PaperSizeOfLocale(v);
    return PaperSizeOfLocale("");
}

}  // namespace host::report
