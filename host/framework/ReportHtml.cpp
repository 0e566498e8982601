// The report as one HTML file: its style and its map inside it, so that it
// opens the same anywhere, offline, and prints on the user's paper with the
// header of a long table repeated on each page.
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "host/Object.h"
#include "host/framework/ReportDocuments.h"
#include "host/platform/TextFile.h"

namespace host::report {

namespace {

std::string Escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += ch;
        }
    }
    return out;
}

std::string Base64(const std::string& bytes) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += abc[(v >> 18) & 63];
        out += abc[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? abc[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? abc[v & 63] : '=';
    }
    return out;
}

void Table(std::ostringstream& h, const ReportTable& t, const char* id, const std::vector<std::string>& swatches = {}) {
    h << "<table id=\"" << id << "\">\n<thead><tr>";
    for (size_t c = 0; c < t.columns.size(); ++c)
        h << "<th" << (c < t.numeric.size() && t.numeric[c] ? " class=\"n\"" : "") << ">" << Escape(t.columns[c])
          << "</th>";
    h << "</tr></thead>\n<tbody>\n";
    for (size_t r = 0; r < t.rows.size(); ++r) {
        h << "<tr>";
        for (size_t c = 0; c < t.rows[r].size(); ++c) {
            h << "<td" << (c < t.numeric.size() && t.numeric[c] ? " class=\"n\"" : "") << ">";
            if (c == 0 && r < swatches.size())
                h << "<span class=\"swatch\" style=\"background:" << swatches[r] << "\"></span>";
            h << Escape(t.rows[r][c]) << "</td>";
        }
        h << "</tr>\n";
    }
    h << "</tbody></table>\n";
}

}  // namespace

std::string ReportHtml(const ReportContent& content, const PaperSize& paper) {
    std::ostringstream h;
    h << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      << "<title>Report of " << Escape(content.name) << "</title>\n<style>\n"
      << "@page { size: " << (paper.name == "Letter" ? "letter" : "A4") << "; margin: 18mm; }\n"
      << "body { font-family: 'DejaVu Sans', sans-serif; font-size: 10pt; color: #1f1f1f; max-width: 60em;"
         " margin: 1.5em auto; padding: 0 1em; }\n"
      << "h1 { font-size: 18pt; margin-bottom: .4em; }\n"
      << "h2 { font-size: 13pt; border-bottom: 1px solid #8ca68c; padding-bottom: 2px; margin-top: 1.4em;"
         " break-after: avoid; }\n"
      << "dl { display: grid; grid-template-columns: max-content auto; gap: .15em 1.2em; }\n"
      << "dt { font-weight: bold; color: #4d4d4d; } dd { margin: 0; }\n"
      << ".criteria p { margin: .1em 0; } .summary { font-weight: bold; }\n"
      << "figure { margin: 0; } figure img { max-width: 100%; height: auto; border: 1px solid #ccc; }\n"
      << "table { border-collapse: collapse; margin: .4em 0 1em; }\n"
      << "th, td { padding: 2px 8px; text-align: left; white-space: nowrap; }\n"
      << "th { background: #e0ebe0; } tbody tr:nth-child(even) { background: #f6f6f6; }\n"
      << ".n { text-align: right; font-variant-numeric: tabular-nums; }\n"
      << "thead { display: table-header-group; } tr { break-inside: avoid; }\n"
      << ".swatch { display: inline-block; width: 1.4em; height: .9em; border: 1px solid #666;"
         " margin-right: .5em; vertical-align: middle; }\n"
      << "</style>\n</head>\n<body>\n";
    h << "<h1>Report of " << Escape(content.name) << "</h1>\n<dl>\n";
    for (auto& [label, value] : content.Particulars())
        h << "<dt>" << Escape(label) << "</dt><dd>" << Escape(value) << "</dd>\n";
    h << "</dl>\n<h2>Criteria</h2>\n<div class=\"criteria\">\n";
    for (auto& line : content.criteria) {
        size_t depth = 0;
        while (depth < line.size() && line[depth] == '\t') ++depth;
        if (depth == line.size()) continue;
        h << "<p" << (depth ? " style=\"margin-left:" + std::to_string(2 * depth) + "em\"" : std::string()) << ">"
          << Escape(line.substr(depth)) << "</p>\n";
    }
    h << "</div>\n";
    if (!content.mapPng.empty())
        h << "<h2>Map</h2>\n<figure><img id=\"map\" alt=\"Map of " << Escape(content.name) << "\" width=\""
          << content.mapWidth << "\" height=\"" << content.mapHeight << "\" src=\"data:image/png;base64,"
          << Base64(content.mapPng) << "\"></figure>\n";
    h << "<h2>Summary</h2>\n<p class=\"summary\">" << Escape(content.SummarySentence()) << "</p>\n";
    if (!content.totals.empty()) Table(h, content.TotalsTable(), "totals");
    if (!content.classes.empty()) {
        std::vector<std::string> swatches;
        for (auto& c : content.classes)
            swatches.push_back("rgb(" + std::to_string(c.red) + "," + std::to_string(c.green) + "," +
                               std::to_string(c.blue) + ")");
        h << "<h2>Classes</h2>\n";
        Table(h, content.ClassesTable(), "classes", swatches);
    }
    h << "<h2>Areas found</h2>\n";
    if (content.areas.Empty()) h << "<p>No areas were found.</p>\n";
    else Table(h, content.areas, "areas");
    if (!content.profile.Empty()) {
        h << "<h2>Customer profile</h2>\n";
        Table(h, content.profile, "profile");
    }
    h << "</body>\n</html>\n";
    return h.str();
}

void WriteReportHtml(const ReportContent& content, const std::string& path, const PaperSize& paper) {
    if (!platform::WriteFileAtomically(path, ReportHtml(content, paper)))
        Raise(kErrPathNotFound, "The report " + path + " could not be written", "PXReports");
}

}  // namespace host::report
