// The household function's output: the feature class of the areas kept,
// written through an insert cursor (any workspace, and the areas of a
// pending job) or straight to the files of a shapefile.
#include "PXCP/PXCPHouseholdDataFunction.h"

#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include "PXCP/HouseholdShapeStore.h"
#include "PXCP/PXAnalysisUtils.h"
#include "host/framework/FunctionRunner.h"
#include "host/gis/ShapefileWriter.h"

namespace pxcp {

using namespace host;

namespace {

const host::ErrorLocation Loc("PXCP\\PXCPHouseholdDataFunction.cls");

}  // namespace

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
