// The household function's check of the result table's bytes before the
// GIS layer reads it.
#include "PXCP/PXCPHouseholdDataFunction.h"

#include <fstream>
#include <iterator>

#include "PXCP/HouseholdText.h"
#include "service/HouseholdDataClient.h"

namespace pxcp {

using namespace host;
using namespace household;

namespace {

struct DbfColumn {
    std::string name;
    char type = 'C';
    size_t offset = 0, length = 0;
};

// The column descriptors of a table that DbfProblem has found whole; empty
// when they do not fit the record length the header states.
std::vector<DbfColumn> DbfColumns(const std::string& bytes) {
    auto u8 = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])); };
    size_t header = u8(8) | u8(9) << 8, recordLength = u8(10) | u8(11) << 8;
    std::vector<DbfColumn> columns;
    size_t offset = 1;  // after the deletion mark
    for (size_t at = 32; at + 32 <= header && bytes[at] != '\x0d'; at += 32) {
        DbfColumn c;
        c.name.assign(bytes.data() + at, 11);
        c.name = c.name.substr(0, c.name.find('\0'));
        c.type = bytes[at + 11];
        c.offset = offset;
        c.length = u8(at + 16);
        offset += c.length;
        columns.push_back(c);
    }
    if (offset > recordLength) return {};
    return columns;
}

}  // namespace

// The table is read through the GIS layer, which takes a cut-off file for a
// shorter one and reads "8r7" as 8. So the bytes are checked first: the
// header against the file's size, the columns the join needs, and every
// count as a number.
bool PXCPHouseholdDataFunction::CheckResultTable() {
    std::ifstream in(resultDbfPath_, std::ios::binary);
    if (!in) return true;  // opening it reports the missing file
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto bad = [&](const std::string& why) {
        return linkDbf_ ? Fail(8, "The linked table " + resultDbfPath_ + " cannot be used: " + why + ".")
                        : Fail(44, "The result table of the household-data service (" + resultDbfPath_ +
                                       ") is not a readable dBASE table: " + why + ".");
    };
    std::string problem = HouseholdDataClient::DbfProblem(bytes, {});
    if (!problem.empty()) return bad(problem);
    auto columns = DbfColumns(bytes);
    if (columns.empty()) return bad("a damaged dBASE header");
    auto find = [&](const std::string& name) -> const DbfColumn* {
        for (auto& c : columns)
            if (c.name == name) return &c;
        return nullptr;
    };
    bool states = mainLayerName_ == kStatesLayer || geogField_ == "STATE";
    const DbfColumn* key = find("GEOG");
    if (!key) return Fail(states ? 9 : 8, "The result table " + resultDbfPath_ + " has no GEOG column.");
    std::vector<const DbfColumn*> counts;
    for (const char* name : {"TQ", "TOTAL"}) {
        const DbfColumn* c = find(name);
        if (!c) return Fail(8, "The result table " + resultDbfPath_ + " lacks the " + name + " column.");
        if (c->type == 'N' || c->type == 'F' || c->type == 'C') counts.push_back(c);
    }
    auto u8 = [&](size_t i) { return static_cast<size_t>(static_cast<unsigned char>(bytes[i])); };
    size_t records = u8(4) | u8(5) << 8 | u8(6) << 16 | u8(7) << 24;
    size_t header = u8(8) | u8(9) << 8, recordLength = u8(10) | u8(11) << 8;
    // Whether the join may read the rows from these bytes (see plainTable_).
    bool plain = !states && key->type == 'C' && counts.size() == 2;
    for (const DbfColumn* c : counts) plain = plain && (c->type == 'N' || c->type == 'F');
    for (size_t r = 0; r < records; ++r) {
        std::string_view record(bytes.data() + header + r * recordLength, recordLength);
        if (record[0] == '*') continue;  // deleted
        for (const DbfColumn* c : counts) {
            std::string text = Trimmed(record.substr(c->offset, c->length));
            if (!IsCountText(text))
                return bad("row " + std::to_string(r + 1) + " (GEOG " + Trimmed(record.substr(key->offset, key->length)) +
                           ") has \"" + text + "\" in " + c->name + ", which is not a number");
            plain = plain && IsWholeNumberText(text);
        }
        for (char ch : record.substr(key->offset, key->length)) plain = plain && ch >= 0x20 && ch < 0x7f;
    }
    plainTable_ = PlainTable();
    if (plain) {
        plainTable_.header = header;
        plainTable_.recordLength = recordLength;
        plainTable_.records = records;
        plainTable_.key = {key->offset, key->length};
        plainTable_.tq = {counts[0]->offset, counts[0]->length};
        plainTable_.total = {counts[1]->offset, counts[1]->length};
        plainTable_.bytes = std::move(bytes);
    }
    return true;
}

}  // namespace pxcp
