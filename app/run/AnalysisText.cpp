#include "app/run/AnalysisText.h"

#include <fstream>
#include <sstream>

#include <pugixml.hpp>

#include "pages/DemographicQueryFile.h"
#include "pages/SelectHouseholdDataDialog.h"

namespace plexa {

using namespace host;

namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The page texts end their lines with CR LF and indent targets with a tab.
std::string PlainLines(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\t') out += "    ";
        else out += c;
    }
    return out;
}

// The year of a demographic query file (1-based), 0 when it names none.
long QueryYear(const std::string& dmq) {
    pugi::xml_document doc;
    if (!doc.load_file(dmq.c_str())) return 0;
    for (auto p : doc.document_element().child("COMMONPROPERTIES").children("COMMONPROPERTY"))
        if (std::string(p.attribute("name").as_string()) == "Year") return p.attribute("value").as_int();
    return 0;
}

std::string YearCaption(const TaskEntryPtr& entry, long year) {
    if (!entry || year < 1 || year > entry->years->Count()) return "";
    return entry->years->Item(year - 1);
}

}  // namespace

std::string CriteriaText(const AnalysisSummary& a, const TaskEntryPtr& entry, const std::string& datasetName) {
    if (!entry || a.queryFile.empty()) return "";
    try {
        if (a.kind == "Demographic") {
            pxcp::DemographicQuery query;
            query.Build(entry);
            if (pxcp::LoadDMQFile(query, a.queryFile, datasetName) != pxcp::DmqLoad::Loaded) return "";
            std::vector<bool> all(static_cast<size_t>(query.CategoryCount()), true);
            return PlainLines(query.ShowQuery(all, YearCaption(entry, query.yearNumber), entry->levelName));
        }
        pxcp::SelectHouseholdDataDialog page;
        page.mainTask = entry;
        page.studyAreaDataset = datasetName;
        page.InitializeDialog();
        page.LoadHHQFile(a.queryFile);
        std::string text = PlainLines(page.ShowQuery());
        page.Unload();
        return text;
    } catch (const std::exception&) {
        return "";
    }
}

std::string AnalysisSummaryText(const AnalysisSummary& a, const TaskEntryPtr& entry, const std::string& datasetName) {
    std::ostringstream out;
    auto line = [&](const char* label, const std::string& value) {
        if (!value.empty()) out << label << value << "\n";
    };
    line("Analysis: ", a.name);
    line("Way:      ", a.kind.empty() ? "unknown" : a.kind);
    line("Level:    ", a.level);
    if (a.kind == "Demographic") line("Year:     ", YearCaption(entry, QueryYear(a.queryFile)));
    line("Date:     ", a.date);
    line("Comment:  ", a.comment);
    line("Areas:    ", a.areas < 0 ? std::string("(the output cannot be read)") : std::to_string(a.areas));
    if (a.beingMade) out << "A run is still making it.\n";
    line("Folder:   ", a.folder);
    if (std::string criteria = CriteriaText(a, entry, datasetName); !criteria.empty()) out << "\n" << criteria << "\n";
    if (!a.reportText.empty()) out << "\n" << ReadWhole(a.reportText);
    return out.str();
}

}  // namespace plexa
