// The household function's join of the counts to the areas: the result
// rows read and grouped by key, and the areas of those keys found in one
// pass over the geography layer.
#include "PXCP/PXCPHouseholdDataFunction.h"

#include <algorithm>
#include <charconv>

#include <ogr_geometry.h>

#include "PXCP/HouseholdShapeStore.h"
#include "PXCP/HouseholdText.h"
#include "PXCP/PXAnalysisUtils.h"
#include "host/framework/FunctionRunner.h"
#include "host/gis/ShapefileFiles.h"
#include "host/gis/ShapefileWriter.h"

namespace pxcp {

using namespace host;
using namespace household;

bool PXCPHouseholdDataFunction::PrepareQueryFilter() {
    bool states = mainLayerName_ == kStatesLayer || geogField_ == "STATE";
    if (states && resultTable_) {
        if (resultTable_->FindField("STATE_ID") < 0) resultTable_->AddField(gis::NewField("STATE_ID", gis::kFieldString, "STATE_ID", 2));
        long geog = resultTable_->FindField("GEOG"), id = resultTable_->FindField("STATE_ID");
        if (geog < 0 || id < 0) return Fail(9, "The state-level result table has no GEOG or STATE_ID column.");
        auto cursor = resultTable_->Search(nullptr, false);
        while (auto row = cursor->NextRow()) {
            row->SetValue(id, GetStateFipByAbbr(row->Value(geog).ToString()));
            resultTable_->UpdateRow(*row);
        }
    }
    std::string keyColumn = states ? "STATE_ID" : "GEOG";
    if (datasetId_ == "USA_ZORB") {
        joinKeyField_ = "ID";
    } else {
        joinKeyField_ = KeyField();
        if (joinKeyField_.empty()) return Fail(8, "The geography layer names no key field to join the counts with.");
    }
    prefix_ = joinKeyField_ + " = ";
    if (resultTable_) {
        keyColumn_ = resultTable_->FindField(keyColumn);
        if (keyColumn_ < 0) return Fail(states ? 9 : 8, "The result table has no " + keyColumn + " column.");
    }
    joinFilter_ = std::make_unique<gis::QueryFilter>();
    joinFilter_->whereClause = prefix_;
    joinFilter_->subFields = mainFeatureClass_->OIDFieldName() + "," + mainFeatureClass_->ShapeFieldName();
    return true;
}

bool PXCPHouseholdDataFunction::OpenJoinCursors() {
    // The service reports households read in TQ and matches in TOTAL; a
    // linked table has them the other way round.
    const char* readName = linkDbf_ ? "TOTAL" : "TQ";
    const char* matchName = linkDbf_ ? "TQ" : "TOTAL";
    readColumn_ = resultTable_->FindField(readName);
    matchColumn_ = resultTable_->FindField(matchName);
    if (readColumn_ < 0 || matchColumn_ < 0)
        return Fail(8, "The result table " + resultDbfPath_ + " lacks the " + (readColumn_ < 0 ? readName : matchName) + " column.");
    long field = mainFeatureClass_->FindField(joinKeyField_);
    if (field < 0) return Fail(8, "The geography layer has no key field " + joinKeyField_ + ".");
    ReadResultRows();
    if (rows_.empty()) return Fail(35, "The result table " + resultDbfPath_ + " holds no rows.");
    if (writer_) {
        keyPos_ = writer_->FindField("KEY");
        totReadPos_ = writer_->FindField("TOTREAD");
        totalPos_ = writer_->FindField("TOTAL");
        percentPos_ = writer_->FindField("PERCENT");
    } else {
        insert_ = output_->Insert(true);
        buffer_ = insert_->CreateBuffer();
    }
    // One row is joined per step: the runner can tell how far the join is.
    nextRow_ = 0;
    joinRows_ = static_cast<long>(rows_.size());
    joined_ = 0;
    FunctionRunner::ReportProgress(0, "Joining the household counts to the areas...");
    return true;
}

// The rows are grouped by key as they are read: the pass over the areas
// then looks each area's key up once.
void PXCPHouseholdDataFunction::ReadResultRows() {
    long field = mainFeatureClass_->FindField(joinKeyField_);
    auto type = mainFeatureClass_->GetFields()->GetField(field)->type;
    numericKey_ = type == gis::kFieldInteger || type == gis::kFieldSmallInteger || type == gis::kFieldDouble ||
                  type == gis::kFieldSingle || type == gis::kFieldOID;
    rows_.clear();
    groups_.clear();
    size_t count = static_cast<size_t>(std::max(0L, resultTable_->RowCount(nullptr)));
    rows_.reserve(count);
    groups_.reserve(count);
    KeyIndex keys;
    keys.groupOf.reserve(count);
    keys.keyOf.reserve(count);
    auto add = [&](ResultRow r) {
        auto [at, added] = keys.groupOf.emplace(AreaKey(r.key), static_cast<uint32_t>(groups_.size()));
        if (added) {
            groups_.push_back({-1, 0, -1});
            keys.keyOf.push_back(&at->first);
        }
        r.group = at->second;
        if (r.counts.kept) ++groups_[r.group].keptRows;
        rows_.push_back(std::move(r));
    };
    const PlainTable& t = plainTable_;
    if (!t.bytes.empty()) {
        // The service's columns are read and matched; a linked table's the other way round.
        auto read = linkDbf_ ? t.total : t.tq, match = linkDbf_ ? t.tq : t.total;
        for (size_t r = 0; r < t.records; ++r) {
            std::string_view record(t.bytes.data() + t.header + r * t.recordLength, t.recordLength);
            if (record[0] == '*') continue;  // deleted, as the layer leaves it out
            auto field = [&](std::pair<size_t, size_t> at) { return record.substr(at.first, at.second); };
            add({Trimmed(field(t.key)), CountsOf(WholeNumberText(field(read)), WholeNumberText(field(match))), 0});
        }
    } else {
        auto cursor = resultTable_->Search(nullptr, true);
        while (auto row = cursor->NextRow())
            add({row->Value(keyColumn_).ToString(),
                 CountsOf(WholeNumber(row->Value(readColumn_)), WholeNumber(row->Value(matchColumn_))), 0});
    }
    plainTable_ = PlainTable();
    if (rows_.empty()) return;
    FindAreas(keys);
}

// One pass over the areas reads their keys, and their shapes as well when
// the output takes more than a few of them: reading an area by its id
// costs a seek into each of the layer's files, while one pass in the
// layer's own order is much cheaper. The rows are still joined one by one,
// in the order of the table, when their turn comes.
void PXCPHouseholdDataFunction::FindAreas(const KeyIndex& keys) {
    long field = mainFeatureClass_->FindField(joinKeyField_);
    long kept = 0;
    for (auto& g : groups_) kept += g.keptRows;
    readAhead_ = kept * 50 > mainFeatureClass_->RowCount(nullptr);
    shapes_ = std::make_unique<ShapeStore>();
    if (readAhead_ && FindAreasInShapefile(keys)) return;
    gis::QueryFilter f;
    f.subFields = mainFeatureClass_->OIDFieldName() + "," + joinKeyField_;
    if (readAhead_) f.subFields += "," + mainFeatureClass_->ShapeFieldName();
    size_t expected = 0;
    auto cursor = mainFeatureClass_->Search(&f, true);
    while (auto area = cursor->NextRow()) {
        KeyGroup* g = GroupOfArea(AreaKey(area->Value(field)), keys, expected);
        if (!g || g->area >= 0) continue;  // the first area of a key wins
        g->area = area->OID();
        if (readAhead_ && g->keptRows > 0 && area->ShapeRef()) g->shape = shapes_->Add(*area->ShapeRef());
    }
}

// The group of rows whose key an area has; null when no row has it.
// Tables usually list their keys in the layer's order: the key after the
// one last found is tried before the index.
PXCPHouseholdDataFunction::KeyGroup* PXCPHouseholdDataFunction::GroupOfArea(
    const std::string& key, const KeyIndex& keys, size_t& expected) {
    if (expected >= keys.keyOf.size() || *keys.keyOf[expected] != key) {
        auto found = keys.groupOf.find(key);
        if (found == keys.groupOf.end()) return nullptr;
        expected = found->second;
    }
    return &groups_[expected++];
}

// The key of an area as a cursor would read it from the bytes of its
// column: a text of printable ASCII, or a whole number of up to 15 digits.
// False for the few keys a cursor reads otherwise (other characters, a
// number with decimals, a null), which are asked of the layer.
bool PXCPHouseholdDataFunction::KeyOfRecord(std::string_view text, std::string& key) const {
    if (!numericKey_) {
        if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; })) return false;
        key = AreaKey(Trimmed(text));
        return true;
    }
    std::string number = Trimmed(text);
    size_t digits = number.size() - (!number.empty() && number[0] == '-' ? 1 : 0);
    if (digits == 0 || digits > 15 || !IsWholeNumberText(number)) return false;
    long long value = 0;
    std::from_chars(number.data(), number.data() + number.size(), value);
    key = NumberKey(static_cast<double>(value));
    return true;
}

// The same pass, when both the areas and the output are plain polygon
// shapefiles with a text or whole-number key: the areas' records are read
// straight from their files and the shape record of each area to be
// written is kept as the output will hold it, to be copied there by the
// shapefile writer. What a cursor would make of a record is asked of the
// layer only for the few records that are not plain: keys that KeyOfRecord
// leaves to it, shapes of more than one ring. False, with nothing changed,
// when the layers do not allow it.
bool PXCPHouseholdDataFunction::FindAreasInShapefile(const KeyIndex& keys) {
    if (!output_ || analysisWorkspace_->Kind() != gis::WorkspaceKind::Folder) return false;
    long field = mainFeatureClass_->FindField(joinKeyField_);
    auto records = gis::ShapefileRecords::Open(*mainFeatureClass_, field);
    if (!records) return false;
    writer_ = gis::ShapefileWriter::Open(*output_);
    if (!writer_) return false;
    gis::PolygonRecords polygons;
    std::string record, key, moved;
    size_t expected = 0;
    while (records->Next()) {
        gis::RowPtr area;
        if (!KeyOfRecord(records->Text(), key)) {
            area = mainFeatureClass_->GetRow(records->Oid());
            if (!area)
                Raise(kErrInvalidCall, "The area " + std::to_string(records->Oid() + 1) + " of the geography layer cannot be read",
                      "PXCP");
            key = AreaKey(area->Value(field));
        }
        KeyGroup* g = GroupOfArea(key, keys, expected);
        if (!g || g->area >= 0) continue;  // the first area of a key wins
        g->area = records->Oid();
        if (g->keptRows == 0) continue;
        // Moved into the output's coordinate system first, when it has another.
        std::string_view stored = records->Shape();
        bool plain = !toOutput_ || gis::PolygonRecords::Transformed(stored, *toOutput_, moved);
        if (toOutput_ && plain) stored = moved;
        if (plain && gis::PolygonRecords::FromStoredRing(stored, record)) {
            g->shape = shapes_->Add(record);
            continue;
        }
        if (!area) area = mainFeatureClass_->GetRow(records->Oid());
        if (area && area->ShapeRef()) {
            std::unique_ptr<OGRGeometry> shape(area->ShapeRef()->clone());
            ToOutputSystem(*shape);
            g->shape = shapes_->Add(polygons.FromShape(*shape));
        }
    }
    return true;
}

PXCPHouseholdDataFunction::Counts PXCPHouseholdDataFunction::CountsOf(long read, long total) const {
    Counts c;
    c.read = read;
    c.total = total;
    c.percent = c.read == 0 ? 0 : static_cast<double>(static_cast<long long>(c.total) * 100) / c.read;
    c.kept = isNumberTarget_ ? c.total > minimumTarget_ : c.percent > minimumTarget_;
    return c;
}

std::string PXCPHouseholdDataFunction::AreaKey(const std::string& key) const {
    if (!numericKey_) return LCase(key);
    size_t used = 0;
    return NumberKey(LeadingNumber(key.c_str(), used));
}

// A key as a layer or table reads it: numbers by their value, which the
// text a number is shown in (in the user's locale) may not keep.
std::string PXCPHouseholdDataFunction::AreaKey(const Variant& key) const {
    return numericKey_ && key.IsNumber() ? NumberKey(key.ToDouble()) : AreaKey(key.ToString());
}

}  // namespace pxcp
