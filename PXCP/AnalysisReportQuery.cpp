#include "PXCP/AnalysisReportQuery.h"

#include <filesystem>

#include "CustomerProfile/CustomerProfileDialog.h"
#include "CustomerProfile/CustomerProfileFile.h"
#include "CustomerProfile/ProfileOutputs.h"
#include "PXCP/HouseholdText.h"
#include "PXCP/PXAnalysisUtils.h"
#include "host/forms/Forms.h"
#include "host/gis/Cursor.h"
#include "host/gis/Row.h"
#include "host/gis/Table.h"
#include "pages/DemographicQuery.h"
#include "pages/DemographicQueryFile.h"
#include "pages/SelectHouseholdDataDialog.h"

namespace fs = std::filesystem;

namespace pxcp {

using namespace host;
using report::ReportField;
using report::ReportQuery;

namespace {

// Reading the query files of a finished analysis for its report asks the
// analyst nothing: their messages are answered OK (No to a question) and
// left out of the message log, while the driver of the pages stays in place.
class QuietMessages : public forms::FormsDriver {
public:
    QuietMessages() : outer_(forms::CurrentDriver()), logged_(forms::MessageLog().size()) { forms::SetDriver(Self()); }
    ~QuietMessages() override = default;
    void Restore() {
        forms::SetDriver(outer_);
        if (forms::MessageLog().size() > logged_) forms::MessageLog().resize(logged_);
    }
    void RunModal(forms::Form& form) override {
        if (outer_) outer_->RunModal(form);
    }
    int MessageBox(const std::string&, int style, const std::string&) override {
        return (style & 7) == forms::vbYesNo ? forms::vbNo : forms::vbOK;
    }
    std::optional<std::string> FileDialog(const forms::FileDialogRequest&) override { return std::nullopt; }
    std::optional<forms::PrinterChoice> PrinterDialog() override { return std::nullopt; }

private:
    // The driver is shared with the forms layer for the time of the reading.
    std::shared_ptr<forms::FormsDriver> Self() {
        return std::shared_ptr<forms::FormsDriver>(this, [](forms::FormsDriver*) {});
    }
    std::shared_ptr<forms::FormsDriver> outer_;
    size_t logged_;
};

// The lines of a Show Query text.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return lines;
}

void AddField(ReportQuery& q, const std::string& name, const std::string& caption) {
    if (name.empty()) return;
    for (auto& f : q.fields)
        if (f.name == name) return;
    q.fields.push_back({name, caption, true});
}

std::string Caption(const TargetDef& t) { return t.caption.empty() ? t.name : t.caption; }

// The target whose number field is a percentage base: its caption names the base.
std::string BaseCaption(const TaskEntry& entry, const std::string& field, const std::string& year) {
    for (auto& c : entry.categories)
        for (auto& t : c->targets)
            if (auto it = t->numberFields.find(year); it != t->numberFields.end() && it->second == field) return Caption(*t);
    return field;
}

void AddProfile(const Analysis& analysis, const TaskEntry& entry, int16_t year, ReportQuery& q) {
    std::string path = analysis.Folder() + "ProfilingParams.cpf";
    if (!fs::exists(path)) return;
    CustomerProfileState state;
    state.rows = MakeCharacteristicRows(entry, nullptr, year).rows;
    if (!LoadCPFFile(state, path, entry.typeText)) return;
    q.profile.columns = {"Category", "Characteristic", "Average"};
    q.profile.numeric = {false, false, true};
    for (auto& r : ProfileGridRows(*state.rows)) q.profile.rows.push_back({r.category, r.characteristic, r.average});
}

bool DescribeDemographic(const Analysis& analysis, const Dataset& dataset, const TaskEntryPtr& entry,
                         ReportQuery& q) {
    DemographicQuery model;
    model.Build(entry);
    if (LoadDMQFile(model, analysis.Folder() + "AnalysisParams.dmq", dataset.name) != DmqLoad::Loaded) return false;
    q.way = "Demographic data";
    const std::string year = std::to_string(model.yearNumber);
    if (model.yearNumber >= 1 && model.yearNumber <= entry->years->Count()) q.year = entry->years->Item(model.yearNumber - 1);
    std::vector<bool> all(model.CategoryCount(), true);
    q.criteria = Lines(model.ShowQuery(all, q.year, entry->levelName));
    // The fields of the criteria: each target's count, then the base its
    // percentage is taken of.
    std::vector<std::pair<std::string, std::string>> bases;
    for (long i = 0; i < model.CategoryCount(); ++i) {
        auto cat = entry->Category(i);
        const Collection& rec = *model.categoryRecords[i];
        for (long j = 0; cat && j < DemographicQuery::TargetCount(rec); ++j) {
            if (DemographicQuery::Get(rec, "Floor", j).empty() && DemographicQuery::Get(rec, "Ceiling", j).empty())
                continue;
            auto t = cat->TargetByName(DemographicQuery::Get(rec, "Target", j));
            if (!t) continue;
            if (auto f = t->numberFields.find(year); f != t->numberFields.end()) AddField(q, f->second, Caption(*t));
            if (auto p = t->percentFields.find(year); p != t->percentFields.end() && !p->second.empty())
                bases.emplace_back(p->second, BaseCaption(*entry, p->second, year));
        }
    }
    for (auto& [field, caption] : bases) AddField(q, field, caption);
    AddProfile(analysis, *entry, model.yearNumber, q);
    return true;
}

bool DescribeHousehold(const Analysis& analysis, const Dataset& dataset, const TaskEntryPtr& entry, ReportQuery& q) {
    // The page says it in its own words: it is given the query as on a re-run.
    SelectHouseholdDataDialog page;
    page.mainTask = entry;
    page.studyAreaDataset = dataset.name;
    page.InitializeDialog();
    page.LoadHHQFile(analysis.Folder() + "AnalysisParams.hhq");
    q.way = "Household data";
    q.criteria = Lines(page.ShowQuery());
    page.Unload();
    q.fields = {{"TOTREAD", "Households", true}, {"TOTAL", "Matching households", true}, {"PERCENT", "Percent", false}};
    // The counts of every area asked about: the service's table, or the
    // linked one, which holds the two counts the other way round.
    std::string linked = analysis.GetProperty("DBFFilePath").ToString();
    std::string table = !linked.empty() ? linked : analysis.Folder() + "tmp.dbf";
    if (!fs::exists(table)) return true;
    try {
        auto t = OpenDBF(table);
        if (!t) return true;
        long read = t->FindField(linked.empty() ? "TQ" : "TOTAL"), matching = t->FindField(linked.empty() ? "TOTAL" : "TQ");
        if (read < 0 || matching < 0) return true;
        double reads = 0, matches = 0;
        auto cursor = t->Search(nullptr, true);
        while (auto row = cursor->NextRow()) {
            reads += household::WholeNumber(row->Value(read));
            matches += household::WholeNumber(row->Value(matching));
        }
        q.wholeTotals["TOTREAD"] = reads;
        q.wholeTotals["TOTAL"] = matches;
    } catch (...) {
        // Without the table the summary gives the found areas' counts only.
    }
    return true;
}

}  // namespace

bool DescribeAnalysisQuery(const Analysis& analysis, const Dataset& dataset, const TaskEntryPtr& entry,
                           ReportQuery& query) {
    if (!entry) return false;
    QuietMessages quiet;
    bool described = false;
    try {
        if (fs::exists(analysis.Folder() + "AnalysisParams.dmq"))
            described = DescribeDemographic(analysis, dataset, entry, query);
        else if (fs::exists(analysis.Folder() + "AnalysisParams.hhq"))
            described = DescribeHousehold(analysis, dataset, entry, query);
    } catch (...) {
        quiet.Restore();
        throw;
    }
    quiet.Restore();
    return described;
}

}  // namespace pxcp
