#include "PXCP/PXCPHouseholdDataFunction.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <ogr_feature.h>
#include <ogr_spatialref.h>

#include "PXCP/PXAnalysisUtils.h"
#include "host/gis/PointIndex.h"
#include "host/gis/ShapefileFiles.h"
#include "host/gis/ShapefileWriter.h"
#include "host/framework/ParamTable.h"
#include "i18n/modi18N.h"
#include "service/HouseholdDataClient.h"

namespace fs = std::filesystem;

namespace pxcp {

using namespace host;

namespace {

const host::ErrorLocation Loc("PXCP\\PXCPHouseholdDataFunction.cls");
const char* kGatewayPath = "velmar/QuISAPISOAPGateWay.dll";
const char* kStatesLayer = "US.Demography.States";

// Key fields of the geography layers of the national datasets.
std::string AgsKeyField(const std::string& mainLayerName) {
    static const std::map<std::string, std::string> m = {{"US.Demography.BlockGroups", "BLOCKGROUP"},
                                                         {"US.Demography.Tracts", "TRACT"},
                                                         {"US.Demography.ZIPCodes", "ZIP"},
                                                         {"US.Demography.Counties", "COUNTY"},
                                                         {kStatesLayer, "STATE"}};
    auto it = m.find(mainLayerName);
    return it == m.end() ? "" : it->second;
}

// A count from the result table; what cannot be read counts as 0.
long WholeNumber(const Variant& v) {
    try {
        return v.IsEmpty() ? 0 : v.ToLong();
    } catch (...) {
        return 0;
    }
}

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

std::string Trimmed(std::string_view s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string_view::npos ? "" : std::string(s.substr(b, e - b + 1));
}

// A count as the table holds it: blank (no count) or a whole decimal number.
bool IsCountText(const std::string& text) {
    if (text.empty()) return true;
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return ec == std::errc() && end == text.data() + text.size();
}

// A count that the GIS layer reads as the same whole number: blank (no
// count) or decimal digits after an optional minus sign.
bool IsWholeNumberText(const std::string& text) {
    size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    if (digits == 1 && text.size() == 1) return false;
    return std::all_of(text.begin() + static_cast<long>(digits), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

long WholeNumberText(std::string_view text) {
    long value = 0;
    std::string trimmed = Trimmed(text);
    std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    return value;
}

// A numeric key by its value, as the areas and the rows both spell it.
std::string NumberKey(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

}  // namespace

class PXCPHouseholdDataFunction::ShapeStore {
public:
    // Keeps a copy of the shape; returns its handle.
    int64_t Add(const OGRGeometry& g) {
        int64_t handle;
        g.exportToWkb(wkbNDR, Reserve(g.WkbSize(), handle));
        return handle;
    }
    // Keeps a copy of a shapefile's shape record; returns its handle.
    int64_t Add(std::string_view record) {
        int64_t handle;
        unsigned char* at = Reserve(4 + record.size(), handle);
        uint32_t length = static_cast<uint32_t>(record.size());
        std::memcpy(at, &length, 4);
        std::memcpy(at + 4, record.data(), record.size());
        return handle;
    }
    // The shape record of a handle that Add(record) gave.
    std::string_view Record(int64_t handle) const {
        const unsigned char* at = At(handle);
        uint32_t length;
        std::memcpy(&length, at, 4);
        return std::string_view(reinterpret_cast<const char*>(at + 4), length);
    }
    // A new geometry from the shape of the handle.
    std::unique_ptr<OGRGeometry> Make(int64_t handle) const {
        OGRGeometry* g = nullptr;
        OGRGeometryFactory::createFromWkb(At(handle), nullptr, &g, -1);
        return std::unique_ptr<OGRGeometry>(g);
    }

private:
    static constexpr size_t kBlockSize = size_t{16} << 20;
    // Room for size bytes, and the handle that finds them again.
    unsigned char* Reserve(size_t size, int64_t& handle) {
        if (blocks_.empty() || used_ + size > blockSize_) NewBlock(std::max(size, kBlockSize));
        handle = static_cast<int64_t>(blocks_.size() - 1) << 32 | static_cast<int64_t>(used_);
        unsigned char* at = blocks_.back().get() + used_;
        used_ += size;
        return at;
    }
    const unsigned char* At(int64_t handle) const {
        return blocks_[static_cast<size_t>(handle >> 32)].get() + (handle & 0xffffffff);
    }
    void NewBlock(size_t size) {
        blocks_.emplace_back(new unsigned char[size]);
        gis::PrepareToFill(blocks_.back().get(), size);
        blockSize_ = size;
        used_ = 0;
    }
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    size_t used_ = 0, blockSize_ = 0;
};

PXCPHouseholdDataFunction::PXCPHouseholdDataFunction() : errorHandler_(NewErrorHandler()) {}

PXCPHouseholdDataFunction::~PXCPHouseholdDataFunction() {
    Cleanup();
    client_.reset();
}

bool PXCPHouseholdDataFunction::Init() {
    status_ = 1;
    analysisFeatureclassName_.clear();
    analysisWorkspace_.reset();
    return true;
}

void PXCPHouseholdDataFunction::Cleanup() {
    // A run stopped half-way keeps the areas written so far, whichever way
    // they were written.
    if (writer_) {
        try {
            writer_->Finish();
        } catch (const std::exception&) {
        }
        writer_.reset();
    }
    joinFilter_.reset();
    insert_.reset();
    buffer_.reset();
    rowCursor_.reset();
    currentRow_.reset();
    resultTable_.reset();
    client_.reset();
    lastError_ = 0;
    status_ = 1;
}

// The keys are those the household sub-task passes, and one more:
// "KeyField", the key field of the geography layer. The key field follows
// from "DatasetID" and "MainLayerName" for the national datasets
// ("USA_ZORB", "USA_AGS"), and there "KeyField" is not used. A dataset of
// one's own names its key field only in its configuration (the layer's
// idField), which this function cannot reach: it is given neither the
// application nor the data manager. So the sub-task reads it there and
// passes it under this key.
bool PXCPHouseholdDataFunction::SetParam(const std::string& name, Variant& value) {
    PX_TRY
    SetBoundParam({{"DatasetName", datasetName_},
                   {"AnalysisFeatureclassName", analysisFeatureclassName_},
                   {"AnalysisWorkspace", analysisWorkspace_},
                   {"AnalysisDir", analysisDir_},
                   {"GeogField", geogField_},
                   {"DatasetID", datasetId_},
                   {"QFields", qFields_},
                   {"QList", qList_},
                   {"UserName", userName_},
                   {"Password", password_},
                   {"IsNumberTarget", isNumberTarget_},
                   {"MinimumTarget", minimumTarget_},
                   {"Wait", wait_},
                   {"MainFeatureClass", mainFeatureClass_},
                   {"MainLayerName", mainLayerName_},
                   {"AnalysisName", analysisName_},
                   {"LinkDBF", linkDbf_},
                   {"DBFFilePath", dbfFilePath_},
                   {"BoundingGeometry", boundingGeometry_},
                   {"DefaultSR", defaultSR_},
                   {"KeyField", keyFieldParam_}},  // datasets of one's own, see above
                  name, value);
    PX_CATCH(errorHandler_, Loc("IPXFunction_SetParam"))
    return true;
}

bool PXCPHouseholdDataFunction::SetResultParam(const std::string& name, Variant& value) {
    if (name == "JobID") value = jobId_;
    return true;
}

bool PXCPHouseholdDataFunction::Fail(long code, const std::string& text) {
    lastError_ = code;
    errorText_ = text;
    return false;
}

bool PXCPHouseholdDataFunction::Start() {
    step_ = 0;
    written_ = 0;
    lastError_ = 0;
    requestCancelled_ = false;
    errorText_.clear();
    if (linkDbf_) {
        resultDbfPath_ = dbfFilePath_;
        step_ = 1;  // the table is at hand: no request
    } else {
        std::string dir = analysisDir_;
        if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
        resultDbfPath_ = dir + "tmp.dbf";
    }
    PX_TRY
    if (boundingGeometry_ && mainFeatureClass_ && mainFeatureClass_->GetSpatialReference()) {
        boundingGeometry_ = boundingGeometry_->Clone();
        boundingGeometry_->Project(mainFeatureClass_->GetSpatialReference());
    }
    PX_CATCH(errorHandler_, Loc("IPXFunction_Start"))
    return true;
}

std::string PXCPHouseholdDataFunction::KeyField() const {
    if (datasetId_ == "USA_ZORB") return "ID";
    if (datasetId_ == "USA_AGS") return AgsKeyField(mainLayerName_);
    return keyFieldParam_;
}

gis::QueryFilter PXCPHouseholdDataFunction::AreaFilter() const {
    gis::QueryFilter f;
    if (boundingGeometry_) f.geometry = boundingGeometry_;
    return f;
}

bool PXCPHouseholdDataFunction::DoStep() {
    if (lastError_ != 0) return false;
    // The runner asks for the cancel before each step; should it not have
    // seen one, the run still ends here, as a failure that says why.
    if (requestCancelled_) return Fail(34, "The household-data request was cancelled.");
    try {
        switch (step_) {
            case 0: {
                std::string list;
                if (!BuildAreaKeyList(list)) {
                    if (lastError_ == 0) lastError_ = 35;
                    return false;
                }
                if (!GetDBFFromQuillon(list)) return false;
                step_ = 20;
                return true;  // also when cancelled: the runner ends the run
            }
            case 20:
                if (PollService()) step_ = 1;
                return lastError_ == 0;
            case 1:
                if (wait_) {
                    FunctionRunner::ReportProgress(-1, "Reading the household counts...");
                    if (!CheckResultTable()) return false;
                    try {
                        resultTable_ = OpenDBF(resultDbfPath_);
                    } catch (const std::exception&) {
                        resultTable_.reset();
                    }
                    if (!resultTable_)
                        return linkDbf_ ? Fail(8, "The linked table " + resultDbfPath_ + " could not be opened.")
                                        : Fail(44, "The result table of the household-data service (" + resultDbfPath_ +
                                                       ") is not a readable dBASE table.");
                }
                step_ = 2;
                return true;
            case 2:
                if (!CreateResultFeatureClass(!wait_)) return Fail(35, "The output feature class could not be created.");
                step_ = 3;
                return true;
            case 3:
                if (!mainFeatureClass_) return Fail(8, "The geography layer of the analysis is missing.");
                step_ = 4;
                return true;
            case 4:
                if (wait_) {
                    if (!PrepareQueryFilter()) return false;
                    step_ = 5;
                } else {
                    step_ = 10;
                }
                return true;
            case 5:
                if (!OpenJoinCursors()) return false;
                step_ = 6;
                return true;
            case 6:
                if (!JoinNextRow()) step_ = 7;
                return lastError_ == 0;
            case 7:
                FinishOutput();
                return false;
            case 10:
                if (!OpenPendingCursors()) return false;
                step_ = 11;
                return true;
            case 11:
                if (!WritePendingRow()) {
                    FinishOutput();
                    return false;
                }
                return true;
            default:
                return false;
        }
    } catch (const std::exception& e) {
        ReportException(errorHandler_, Loc("IPXFunction_DoStep"));
        if (lastError_ == 0) Fail(35, e.what());
        DiscardStraightOutput();
        return false;
    }
}

// An output that failed while written straight to its files is removed:
// no reader should take a part of the areas for all of them.
void PXCPHouseholdDataFunction::DiscardStraightOutput() {
    if (!writer_) return;
    writer_.reset();
    output_.reset();
    try {
        analysisWorkspace_->DeleteDataset(analysisFeatureclassName_);
    } catch (const std::exception&) {
        ReportException(errorHandler_, Loc("IPXFunction_DoStep"));
    }
}

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

bool PXCPHouseholdDataFunction::BuildAreaKeyList(std::string& list) {
    list.clear();
    if (!mainFeatureClass_) return Fail(8, "The geography layer of the analysis is missing.");
    std::string key = KeyField();
    long keyIndex = key.empty() ? -1 : mainFeatureClass_->FindField(key);
    if (keyIndex < 0) {
        ResMsgBox(241, forms::vbCritical, 128);
        return Fail(35, FindString(241));
    }
    gis::QueryFilter f = AreaFilter();
    f.subFields = mainFeatureClass_->OIDFieldName() + "," + key + "," + mainFeatureClass_->ShapeFieldName();
    gis::CursorPtr cursor;
    try {
        cursor = mainFeatureClass_->Search(&f, false);
    } catch (const std::exception&) {
        cursor.reset();
    }
    if (!cursor) {
        ResMsgBox(239, forms::vbCritical, 198);
        return Fail(35, FindString(239));
    }
    bool any = false;
    while (auto row = cursor->NextRow()) {
        any = true;
        std::string value = row->Value(keyIndex).ToString();
        if (geogField_ == "STATE") {
            list += "\"" + GetStateAbbrByFip(value) + "\",";
        } else if (!value.empty() && value != " ") {
            list += "\"" + value + "\",";
        }
    }
    if (!any) {
        ResMsgBox(240, forms::vbCritical, 128);
        return Fail(35, FindString(240));
    }
    if (!list.empty() && list.back() == ',') list.pop_back();
    return true;
}

bool PXCPHouseholdDataFunction::GetDBFFromQuillon(const std::string& areaList) {
    try {
        FunctionRunner::ReportProgress(-1, "Sending the household query...");
        client_ = std::make_unique<HouseholdDataClient>();
        if (client_->SetGeography(geogField_, areaList) != "1") return Fail(34, client_->LastMessage());
        if (client_->SetQuery(qFields_, qList_) != "1") return Fail(34, client_->LastMessage());
        std::string reply = client_->Submit(HouseholdDataClient::ServiceHost(), kGatewayPath, resultDbfPath_,
                                            "EXPERIAN", wait_, userName_, password_, analysisName_);
        if (client_->Cancelled()) {
            requestCancelled_ = true;
            client_.reset();
            return true;
        }
        char* end = nullptr;
        double number = std::strtod(reply.c_str(), &end);
        if (reply.empty() || (end && *end) || number != 1) return Fail(34, client_->LastMessage());
        return true;
    } catch (const std::exception& e) {
        ReportException(errorHandler_, Loc("GetDBFFromQuillon"));
        return Fail(34, e.what());
    }
}

bool PXCPHouseholdDataFunction::PollService() {
    if (!client_) return true;
    long status = 0;
    try {
        status = client_->GetStatus();
    } catch (const HouseholdRequestCancelled&) {
        requestCancelled_ = true;
        client_.reset();
        return false;
    } catch (const std::exception& e) {
        ReportException(errorHandler_, Loc("GetDBFFromQuillon"));
        client_.reset();
        Fail(34, e.what());
        return false;
    }
    if (status != 1) {
        FunctionRunner::ReportProgress(-1, "Waiting for the household-data service (job " + client_->GetJobID() + ")...");
        return false;
    }
    if (!wait_) jobId_ = client_->GetJobID();
    client_.reset();
    return true;
}

bool PXCPHouseholdDataFunction::CreateResultFeatureClass(bool pending) {
    bool ok = false;
    PX_TRY
    if (!analysisWorkspace_) return false;
    gis::Fields fields;
    if (analysisWorkspace_->Kind() == gis::WorkspaceKind::GeoPackage)
        fields.AddField(gis::NewField("OID", gis::kFieldOID, "Object ID"));
    auto shape = gis::NewField("SHAPE", gis::kFieldGeometry, "geometry");
    shape->geometryDef.type = gis::kGeomPolygon;
    shape->geometryDef.gridSize = 10;
    shape->geometryDef.spatialReference = OutputSystem();
    fields.AddField(shape);
    fields.AddField(gis::NewField("KEY", gis::kFieldString, "KEY", 12));
    if (!pending) {
        fields.AddField(gis::NewField("TOTREAD", gis::kFieldDouble, "TOTREAD", 11, 11, 0));
        fields.AddField(gis::NewField("TOTAL", gis::kFieldDouble, "TOTAL", 11, 11, 0));
        fields.AddField(gis::NewField("PERCENT", gis::kFieldDouble, "PERCENT", 20, 19, 2));
    }
    output_ = analysisWorkspace_->CreateFeatureClass(analysisFeatureclassName_, fields, "SHAPE");
    ok = output_ != nullptr;
    if (ok) {
        keyPos_ = output_->FindField("KEY");
        totReadPos_ = output_->FindField("TOTREAD");
        totalPos_ = output_->FindField("TOTAL");
        percentPos_ = output_->FindField("PERCENT");
    }
    PX_CATCH(errorHandler_, Loc(pending ? "CreatePendingFeatureClass" : "CreateResultFeatureClass"))
    return ok;
}

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

// The shape of a kept row's area: read ahead, or read by id.
std::unique_ptr<OGRGeometry> PXCPHouseholdDataFunction::ShapeOfRow(uint32_t group) {
    KeyGroup& g = groups_[group];
    if (g.area < 0) return nullptr;
    std::unique_ptr<OGRGeometry> shape;
    if (!readAhead_) {
        auto area = mainFeatureClass_->GetRow(g.area);
        shape.reset(area ? area->Ogr()->StealGeometry() : nullptr);
    } else if (g.shape >= 0) {
        shape = shapes_->Make(g.shape);
    }
    if (shape) ToOutputSystem(*shape);
    return shape;
}

// The output's coordinate system: the areas' own when geographic, the
// geographic system a projected one is based on, or "DefaultSR" when the
// areas have none. The shapes are moved into it on their way out
// (toOutput_), so that the layer lies where the areas do.
gis::SpatialReferencePtr PXCPHouseholdDataFunction::OutputSystem() {
    auto out = GetGeographicReference(mainFeatureClass_, defaultSR_);
    auto areas = mainFeatureClass_ ? mainFeatureClass_->GetSpatialReference() : nullptr;
    toOutput_.reset();
    if (out && areas && !areas->IsEmpty() && !areas->IsSame(*out)) {
        toOutput_.reset(OGRCreateCoordinateTransformation(&areas->Ogr(), &out->Ogr()));
        if (!toOutput_)
            Raise(kErrInvalidCall, "The areas' coordinate system " + areas->Name() + " cannot be converted to " + out->Name(),
                  "PXCP");
    }
    return out;
}

void PXCPHouseholdDataFunction::ToOutputSystem(OGRGeometry& shape) const {
    if (toOutput_ && shape.transform(toOutput_.get()) != OGRERR_NONE)
        Raise(kErrInvalidCall, "The shape of an area could not be converted to the output's coordinate system", "PXCP");
}

std::string PXCPHouseholdDataFunction::AreaKey(const std::string& key) const {
    return numericKey_ ? NumberKey(std::strtod(key.c_str(), nullptr)) : LCase(key);
}

// A key as a layer or table reads it: numbers by their value, which the
// text a number is shown in (in the user's locale) may not keep.
std::string PXCPHouseholdDataFunction::AreaKey(const Variant& key) const {
    return numericKey_ && key.IsNumber() ? NumberKey(key.ToDouble()) : AreaKey(key.ToString());
}

template <class Target>
void PXCPHouseholdDataFunction::SetCounts(Target& target, const ResultRow& row) const {
    target.SetValue(keyPos_, row.key);
    target.SetValue(totReadPos_, static_cast<double>(row.counts.read));
    target.SetValue(totalPos_, static_cast<double>(row.counts.total));
    target.SetValue(percentPos_, row.counts.percent);
}

bool PXCPHouseholdDataFunction::JoinNextRow() {
    if (nextRow_ >= rows_.size()) return false;
    const ResultRow& row = rows_[nextRow_++];
    if (row.counts.kept && writer_) {
        const KeyGroup& g = groups_[row.group];
        if (g.area >= 0 && g.shape >= 0) {
            SetCounts(*writer_, row);
            writer_->Append(shapes_->Record(g.shape));
            ++written_;
        }
    } else if (row.counts.kept) {
        if (auto shape = ShapeOfRow(row.group)) {
            buffer_->Ogr()->SetGeometryDirectly(shape.release());
            SetCounts(*buffer_, row);
            insert_->Insert(*buffer_);
            ++written_;
        }
    }
    if (joinRows_ > 0) FunctionRunner::ReportProgress(static_cast<double>(++joined_) / joinRows_);
    return nextRow_ < rows_.size();
}

bool PXCPHouseholdDataFunction::OpenPendingCursors() {
    std::string key = KeyField();
    pendingKey_ = key.empty() ? -1 : mainFeatureClass_->FindField(key);
    if (pendingKey_ < 0) return Fail(8, "The geography layer has no key field " + key + ".");
    insert_ = output_->Insert(true);
    buffer_ = insert_->CreateBuffer();
    gis::QueryFilter f = AreaFilter();
    f.subFields = mainFeatureClass_->ShapeFieldName() + "," + key;
    rowCursor_ = mainFeatureClass_->Search(&f, false);
    currentRow_ = rowCursor_ ? rowCursor_->NextRow() : nullptr;
    if (!currentRow_) return Fail(35, "The study area holds no area of the geography layer.");
    return true;
}

bool PXCPHouseholdDataFunction::WritePendingRow() {
    if (!currentRow_) return false;
    if (currentRow_->ShapeRef()) {
        std::unique_ptr<OGRGeometry> shape(currentRow_->ShapeRef()->clone());
        ToOutputSystem(*shape);
        buffer_->Ogr()->SetGeometryDirectly(shape.release());
        // The key is read by name: the field's position differs between layers.
        buffer_->SetValue(keyPos_, currentRow_->Value(pendingKey_).ToString());
        insert_->Insert(*buffer_);
        ++written_;
    }
    currentRow_ = rowCursor_->NextRow();
    if (joinRows_ > 0) FunctionRunner::ReportProgress(static_cast<double>(++joined_) / joinRows_);
    return currentRow_ != nullptr;
}

void PXCPHouseholdDataFunction::FinishOutput() {
    if (insert_) insert_->Flush();
    if (writer_) {
        // Written straight to its files: the layer is opened anew to be indexed.
        writer_->Finish();
        writer_.reset();
        output_ = analysisWorkspace_->OpenFeatureClass(analysisFeatureclassName_);
    }
    insert_.reset();
    buffer_.reset();
    rowCursor_.reset();
    currentRow_.reset();
    resultTable_.reset();
    rows_.clear();
    groups_.clear();
    shapes_.reset();
    if (written_ == 0) {
        Fail(35, isNumberTarget_ || !wait_ ? "No area has more matching households than the minimum."
                                           : "No area has a larger share of matching households than the minimum.");
        return;
    }
    PX_TRY
    CreateSpatialIndex(output_);
    PX_CATCH(errorHandler_, Loc("FinishOutput"))
    output_.reset();
}

}  // namespace pxcp
