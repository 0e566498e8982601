// What the report of an analysis says, as plain data: made once from the
// analysis (see ReportBuilder.h) and drawn by each of its outputs, the PDF
// and HTML documents, a text on the console or a window, so that all of
// them say the same. Nothing here draws; numbers are already written as
// the user's locale writes them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace host::report {

// A table of text cells; numeric columns are set right.
struct ReportTable {
    std::vector<std::string> columns;
    std::vector<bool> numeric;                   // one per column
    std::vector<std::vector<std::string>> rows;  // each as long as columns
    bool Empty() const { return rows.empty(); }
};

// A count summed over the areas found and over the whole study area.
struct ReportTotal {
    std::string field;    // "BIR74"
    std::string caption;  // "Live births"
    double found = 0;
    std::optional<double> whole;  // unknown when the study area's counts are not at hand
    // The share of the whole that the areas found hold, in percent.
    std::optional<double> Share() const;
};

// One class of a classified result (the household way's classes of
// "PERCENT"): the values from lower to upper, its colour and how many of
// the areas found fall into it.
struct ReportClass {
    std::string label;  // as the map's legend writes it
    double lower = 0, upper = 0;
    int red = 0, green = 0, blue = 0;
    long count = 0;
};

struct ReportContent {
    // The analysis.
    std::string name, comment, date, dataset, level, year;
    std::string way;  // "Demographic data" or "Household data"
    // The criteria in words, one line each; a line may start with tabs for
    // its depth.
    std::vector<std::string> criteria;

    // The summary.
    long areasFound = 0;
    std::optional<long> areasTotal;  // areas of the level in the study area
    std::vector<ReportTotal> totals;

    // The map of the result over the level, as a PNG picture, with its
    // title, legend and scale bar drawn in.
    std::string mapPng;
    int mapWidth = 0, mapHeight = 0;

    ReportTable areas;                 // key, name and the criteria's fields of each area found
    std::vector<ReportClass> classes;  // empty unless the result is classified
    ReportTable profile;               // the customer profile; empty when the analysis has none

    // "18 of 100 counties, holding 22.4 % of live births": the first line of
    // the summary.
    std::string SummarySentence() const;
    // The totals as a table: what was counted, in the areas found, in the
    // study area and the share.
    ReportTable TotalsTable() const;
    // The classes as a table: class, from, to, areas.
    ReportTable ClassesTable() const;
    // The analysis's particulars as label and value ("Dataset", "North
    // Carolina"), empty values left out.
    std::vector<std::pair<std::string, std::string>> Particulars() const;
    // The whole report as plain text (the console and simple viewers).
    std::string ToText() const;
};

// Numbers as the user's locale writes them: grouped thousands and the
// locale's decimal separator ("12,345.5" or "12.345,5").
std::string FormatReportNumber(double value, int maxDecimals = 2);
// A share in percent with one decimal ("22.4 %" or "22,4 %").
std::string FormatReportPercent(double percent);

// The paper of the user's locale: Letter in the Americas that use it
// (United States, Canada, Mexico, ...), else A4. The locale is taken from
// LC_ALL, LC_PAPER or LANG, in that order.
struct PaperSize {
    std::string name;  // "A4" or "Letter"
    double widthPoints = 0, heightPoints = 0;
};
PaperSize UserPaperSize();
// The paper of a locale name such as "en_US.UTF-8" or "de_DE".
PaperSize PaperSizeOfLocale(const std::string& localeName);

}  // namespace host::report
