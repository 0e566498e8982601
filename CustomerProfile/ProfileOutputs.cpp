#include "CustomerProfile/ProfileOutputs.h"

#include <cmath>

#include "PXCP/PXAnalysisUtils.h"
#include "host/platform/Locale.h"
#include "i18n/modi18N.h"

namespace pxcp {

using namespace host;

namespace {
std::string Item(const Collection& row, const char* key) { return row.Contains(key) ? row.Item(key).ToString() : ""; }
// A value as a profile file keeps it (a C number) or as the row holds it.
double StoredValue(const std::string& v) {
    if (auto d = platform::ParseStoredNumber(v)) return *d;
    return Variant(v).ToDouble();
}
}  // namespace

std::string ProfileAverageText(const std::string& value, const std::string& chance) {
    if (value.empty()) return "";
    return std::to_string(static_cast<long>(std::nearbyint(StoredValue(value)))) + chance;
}

std::string ProfileAverageCell(const Collection& row) {
    std::string reason = Item(row, "Reason");
    return reason.empty() ? ProfileAverageText(Item(row, "Value"), Item(row, "Chance")) : reason;
}

std::vector<ProfileGridRow> ProfileGridRows(const Collection& rows) {
    std::vector<ProfileGridRow> out;
    for (long i = 1; i <= rows.Count(); ++i) {
        auto r = rows.Item(i).As<Collection>();
        ProfileGridRow g;
        if (Item(*r, "First") == "True") g.category = Item(*r, "Cat.caption");
        g.characteristic = Item(*r, "Target.caption");
        g.average = ProfileAverageCell(*r);
        out.push_back(g);
    }
    return out;
}

bool WriteProfileTable(const Collection& rows, const std::string& path) {
    gis::Fields fields;
    fields.AddField(gis::NewField("FID", gis::kFieldOID, "SE_ROW_ID"));
    fields.AddField(gis::NewField("Category", gis::kFieldString, "CATEGORY", 30));
    fields.AddField(gis::NewField("Field", gis::kFieldString, "FIELD", 30));
    fields.AddField(gis::NewField("AvgDesc", gis::kFieldString, "AVGDESC", 10));
    fields.AddField(gis::NewField("AvgVal", gis::kFieldDouble, "AVGVAL", 16, 15, 1));
    auto table = CreateDBF(path, fields);
    if (!table) return false;
    try {
        auto cursor = table->Insert(true);
        auto buffer = cursor->CreateBuffer();
        std::string category;
        for (long i = 1; i <= rows.Count(); ++i) {
            auto r = rows.Item(i).As<Collection>();
            if (Item(*r, "First") == "True") category = Item(*r, "Cat.caption");
            buffer->SetValue(1, category);
            buffer->SetValue(2, Item(*r, "Target.caption"));
            std::string v = Item(*r, "Value");
            if (!v.empty() && Item(*r, "Reason").empty()) {
                double value = StoredValue(v);
                std::string desc = ProfileAverageText(v, Item(*r, "Chance"));
                buffer->SetValue(3, desc.substr(0, 10));  // a label longer than the field is cut
                buffer->SetValue(4, value);
            } else {
                buffer->SetValue(3, std::string());
                buffer->SetValue(4, 0.0);
            }
            cursor->Insert(*buffer);
        }
        cursor->Flush();
    } catch (const std::exception& e) {
        forms::MsgBox(FindString(142) + e.what(), forms::vbOKOnly, "");
        return false;
    }
    return true;
}

void PrintRecord(platform::Printer& printer, const ProfileGridRow& row) {
    if (!row.category.empty()) printer.NewLine();
    printer.PrintAt(5, row.category);
    // Lengths in print columns, not bytes: "Bevölkerung" takes eleven.
    using platform::Printer;
    int p = Printer::Width(row.category) + 5, q;
    if (p < 36) {
        printer.PrintAt(35, row.characteristic);
        q = Printer::Width(row.characteristic) + 35;
    } else {
        printer.PrintAt(p + 2, row.characteristic);
        q = p + 2 + Printer::Width(row.characteristic);
    }
    printer.PrintAt(q < 76 ? 75 : q + 2, row.average);
    printer.NewLine();
}

void PrintProfile(platform::Printer& printer, const CustomerProfileState& state, int copies) {
    PrintProfile(printer, state.header1, state.header2, state.header3, ProfileGridRows(*state.rows), copies);
}

void PrintProfile(platform::Printer& printer, const std::string& header1, const std::string& header2,
                  const std::string& header3, const std::vector<ProfileGridRow>& rows, int copies) {
    printer.fontName = "Courier";
    printer.fontSize = 10;
    for (int copy = 1; copy <= copies; ++copy) {
        printer.NewLine();
        printer.NewLine();
        printer.PrintAt(5, "AVERAGE CUSTOMER PROFILE");
        printer.NewLine();
        printer.PrintAt(5, std::string(24, '-'));
        printer.NewLine();
        printer.NewLine();
        for (const std::string* h : {&header1, &header2, &header3}) {
            printer.PrintAt(5, *h);
            printer.NewLine();
        }
        printer.NewLine();
        for (auto& r : rows) PrintRecord(printer, r);
    }
    if (printer.HasOutput()) printer.EndDoc();
}

}  // namespace pxcp
