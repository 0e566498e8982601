// "PXCP.PXCPHouseholdDataFunction": sends the household query with the list
// of areas to the household-data service, follows the job, joins the
// service's counts (or a linked table) to the geography polygons and keeps
// the areas above the minimum. Without waiting it writes the requested
// areas and reports the job id.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"

class OGRCoordinateTransformation;
class OGRGeometry;

namespace host::gis {
class ShapefileWriter;
}

namespace pxcp {

class HouseholdDataClient;

class PXCPHouseholdDataFunction : public host::IPXFunction {
public:
    PXCPHouseholdDataFunction();
    ~PXCPHouseholdDataFunction() override;
    std::string TypeName() const override { return "PXCPHouseholdDataFunction"; }

    bool Start() override;
    bool DoStep() override;
    long LastError() override { return lastError_; }
    long Status() override { return status_; }
    void Cleanup() override;
    bool Init() override;
    bool SetResultParam(const std::string& name, host::Variant& value) override;
    bool SetParam(const std::string& name, host::Variant& value) override;

    // The join filter: the geography where-clause prefix, object id and shape.
    bool PrepareQueryFilter();

    // What went wrong, in words, when LastError is not 0.
    const std::string& ErrorText() const { return errorText_; }
    long Written() const { return written_; }
    int16_t StepNumber() const { return step_; }

private:
    bool Fail(long code, const std::string& text);
    bool BuildAreaKeyList(std::string& list);
    bool GetDBFFromQuillon(const std::string& areaList);
    bool PollService();
    bool CheckResultTable();
    std::string KeyField() const;
    bool CreateResultFeatureClass(bool pending);
    bool OpenJoinCursors();
    void ReadResultRows();
    // The groups of rows by their keys, as an area's key is compared, and
    // the key of each group, while the areas are looked for.
    struct KeyIndex {
        std::unordered_map<std::string, uint32_t> groupOf;
        std::vector<const std::string*> keyOf;
    };
    void FindAreas(const KeyIndex& keys);
    bool FindAreasInShapefile(const KeyIndex& keys);
    bool KeyOfRecord(std::string_view text, std::string& key) const;
    struct KeyGroup;
    KeyGroup* GroupOfArea(const std::string& key, const KeyIndex& keys, size_t& expected);
    void DiscardStraightOutput();
    std::unique_ptr<OGRGeometry> ShapeOfRow(uint32_t group);
    std::string AreaKey(const std::string& key) const;
    std::string AreaKey(const host::Variant& key) const;
    struct Counts {
        long read = 0, total = 0;
        double percent = 0;
        bool kept = false;
    };
    Counts CountsOf(long read, long total) const;
    bool JoinNextRow();
    bool OpenPendingCursors();
    bool WritePendingRow();
    void FinishOutput();
    host::gis::QueryFilter AreaFilter() const;
    host::gis::SpatialReferencePtr OutputSystem();
    void ToOutputSystem(OGRGeometry& shape) const;

    // Parameters.
    std::string datasetName_, analysisFeatureclassName_, analysisDir_, geogField_, datasetId_, qFields_, qList_;
    std::string userName_, password_, mainLayerName_, analysisName_, dbfFilePath_, keyFieldParam_;
    host::gis::WorkspacePtr analysisWorkspace_;
    bool isNumberTarget_ = true, wait_ = true, linkDbf_ = false;
    double minimumTarget_ = 0;
    host::gis::FeatureClassPtr mainFeatureClass_;
    host::gis::GeometryPtr boundingGeometry_;
    host::gis::SpatialReferencePtr defaultSR_;

    // Run state.
    int16_t step_ = 0;
    long lastError_ = 0, status_ = 1, written_ = 0;
    std::string errorText_, resultDbfPath_, jobId_;
    std::unique_ptr<HouseholdDataClient> client_;
    // The analyst cancelled while a request was under way: the next step
    // lets the runner see the cancel instead of reporting a failure.
    bool requestCancelled_ = false;
    host::gis::TablePtr resultTable_;
    host::gis::CursorPtr rowCursor_;
    host::gis::RowPtr currentRow_;
    long joinRows_ = 0, joined_ = 0;  // rows of the result table, and how many were joined
    host::gis::FeatureClassPtr output_;
    host::gis::InsertCursorPtr insert_;
    // The output written straight to its files (see FindAreasInShapefile);
    // null when written through insert_.
    std::unique_ptr<host::gis::ShapefileWriter> writer_;
    host::gis::RowPtr buffer_;
    // From the areas' coordinate system to the output's; null when they are the same.
    std::unique_ptr<OGRCoordinateTransformation> toOutput_;
    long keyPos_ = -1, totReadPos_ = -1, totalPos_ = -1, percentPos_ = -1;  // of output_, or of writer_
    long keyColumn_ = -1, readColumn_ = -1, matchColumn_ = -1, pendingKey_ = -1;
    std::unique_ptr<host::gis::QueryFilter> joinFilter_;
    std::string prefix_, joinKeyField_;
    // The rows of the result table, read once, in the table's order, each
    // with its counts and the group of rows with the same key.
    struct ResultRow {
        std::string key;
        Counts counts;
        uint32_t group = 0;
    };
    // The key and counts of a result row, set on an output row or on the
    // writer's row.
    template <class Target>
    void SetCounts(Target& target, const ResultRow& row) const;
    // The rows of one key and the area that key names: the first area of
    // the geography layer with that key (-1: none). Keys compare as the
    // where-clause "KEY = 'value'" would: numbers by value, texts without
    // regard to case. keptRows counts the rows of the key whose counts are
    // above the minimum; shape is the area's shape in shapes_ when read
    // ahead (-1: none).
    struct KeyGroup {
        long area = -1;
        uint32_t keptRows = 0;
        int64_t shape = -1;
    };
    // The shapes read ahead, kept as WKB (or as the shape records the
    // shapefile writer copies) in large blocks: a fraction of the memory
    // geometry objects take, and mapped in one go.
    class ShapeStore;
    std::unique_ptr<ShapeStore> shapes_;
    // The result table's bytes, kept by CheckResultTable when the rows can
    // be read from them just as the GIS layer would read them (a key of
    // plain ASCII text, whole-number counts, not the state level): that
    // spares the join a pass through the layer. Offsets and lengths of the
    // key and count columns within a record.
    struct PlainTable {
        std::string bytes;
        size_t header = 0, recordLength = 0, records = 0;
        std::pair<size_t, size_t> key, tq, total;
    };
    PlainTable plainTable_;
    std::vector<ResultRow> rows_;
    std::vector<KeyGroup> groups_;
    size_t nextRow_ = 0;
    bool numericKey_ = false;
    // Whether the shapes of the areas are read in the same pass as their
    // keys (the output takes many of them) or each by its id when its row
    // comes.
    bool readAhead_ = false;
    host::ErrorHandlerPtr errorHandler_;
};

}  // namespace pxcp
