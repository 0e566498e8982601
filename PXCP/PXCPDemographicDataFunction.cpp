#include "PXCP/PXCPDemographicDataFunction.h"

#include <ogr_feature.h>

#include "PXCP/PXAnalysisUtils.h"
#include "host/framework/ParamTable.h"

namespace pxcp {

using namespace host;

namespace {
const host::ErrorLocation Loc("PXCP\\PXCPDemographicDataFunction.cls");
}  // namespace

PXCPDemographicDataFunction::PXCPDemographicDataFunction() {
    PX_TRY
    errorHandler_ = NewErrorHandler();
    PX_CATCH(errorHandler_, Loc("Class_Initialize"))
}

PXCPDemographicDataFunction::~PXCPDemographicDataFunction() {
    Cleanup();
    application_.reset();
    dataManager_.reset();
}

void PXCPDemographicDataFunction::Cleanup() {
    lastError_ = 0;
    status_ = 1;
}

bool PXCPDemographicDataFunction::Init() {
    status_ = 1;
    analysisFeatureclassName_.clear();
    analysisWorkspace_.reset();
    return true;
}

bool PXCPDemographicDataFunction::SetParam(const std::string& name, Variant& value) {
    PX_TRY
    SetBoundParam({{"IApplication", application_},
                   {"IPXDataManager", dataManager_},
                   {"AnalysisWorkspace", analysisWorkspace_},
                   {"AnalysisFeatureclassName", analysisFeatureclassName_},
                   {"QueryString", queryString_},
                   {"AllFields", allFields_},
                   {"AllFieldsCol", allFieldsCol_},
                   {"AdditionalFields", additionalFieldNames_},
                   {"MainDSLayer", mainDSLayer_},
                   {"DefaultSR", defaultSpatialReference_}},
                  name, value);
    PX_CATCH(errorHandler_, Loc("IPXFunction_SetParam"))
    return true;
}

bool PXCPDemographicDataFunction::CreateResultFeatureClass(const gis::SpatialReferencePtr& sr) {
    bool ok = false;
    PX_TRY
    gis::Fields fields;
    if (analysisWorkspace_->Kind() == gis::WorkspaceKind::GeoPackage)
        fields.AddField(gis::NewField("OID", gis::kFieldOID, "Object ID"));
    auto shape = gis::NewField("shape", gis::kFieldGeometry, "geometry");
    shape->geometryDef.type = gis::kGeomPolygon;
    shape->geometryDef.gridSize = 10;
    shape->geometryDef.avgNumPoints = 2;
    shape->geometryDef.spatialReference = sr;
    fields.AddField(shape);
    for (auto& f : additionalFieldDefs_) fields.AddField(f);
    // Query fields are doubles of precision 16 and scale 12. Stored with a
    // width of 16, a dBASE field would keep three digits before the point,
    // too few for the counts of a demographic layer (21588 births in one
    // North Carolina county, millions at the state level); the length of 24
    // gives them eleven.
    if (allFieldsCol_)
        for (auto& n : allFieldsCol_->Items()) fields.AddField(gis::NewField(n, gis::kFieldDouble, n, 24, 16, 12));
    fields.AddField(gis::NewField("Result", gis::kFieldString, "Result", 10));
    std::string shapeName;
    for (long i = 0; i < fields.FieldCount(); ++i)
        if (fields.GetField(i)->type == gis::kFieldGeometry) shapeName = fields.GetField(i)->name;
    resultFeatureClass_ = analysisWorkspace_->CreateFeatureClass(analysisFeatureclassName_, fields, shapeName);
    ok = resultFeatureClass_ != nullptr;
    PX_CATCH(errorHandler_, Loc("CreateResultFeatureClass"))
    return ok;
}

bool PXCPDemographicDataFunction::Start() {
    const std::string location = Loc("IPXFunction_Start");
    try {
        if (!application_) {
            lastError_ = 11;
            return true;
        }
        if (!dataManager_) {
            lastError_ = 12;
            return true;
        }
        auto ext = GetPXExtension(application_);
        gis::FeatureClassPtr demographic;
        DataWorkspacePtr dataWs;
        try {
            if (!ext) Raise(kErrInvalidCall, "The application has no Plexa extension");
            if (!mainDSLayer_) Raise(kErrInvalidCall, "The level's main layer is not a layer of the dataset");
            dataWs = ext->GetDataWorkspace();
            demographic = dataWs->OpenFeatureClass(mainDSLayer_->datasetName);
        } catch (...) {
            ReportException(errorHandler_, location);
        }
        if (!demographic) {
            lastError_ = 47;
            return false;
        }
        if (allFieldsCol_)
            for (auto& n : allFieldsCol_->Items())
                if (demographic->FindField(n) < 0) {
                    lastError_ = 9;
                    return true;
                }
        auto bounding = ext->BoundingGeometry();
        if (bounding) {
            bounding = bounding->Clone();
            bounding->Project(demographic->GetSpatialReference());
        }
        gis::CursorPtr cursor;
        try {
            cursor = dataWs->Search(mainDSLayer_->datasetName, queryString_, ext->CurrentDatasetName(), bounding);
        } catch (...) {
            ReportException(errorHandler_, location);
        }
        if (!cursor) {
            lastError_ = 47;
            return false;
        }
        auto feature = cursor->NextRow();
        if (!feature) {
            lastError_ = 35;
            return false;
        }
        additionalFieldDefs_.clear();
        std::vector<long> additionalIdx, queryIdx;
        if (additionalFieldNames_)
            for (auto& n : additionalFieldNames_->Items()) {
                long i = feature->GetFields()->FindField(n);
                if (i < 0) {
                    lastError_ = 9;
                    return true;
                }
                additionalIdx.push_back(i);
                auto copy = std::make_shared<gis::Field>(*feature->GetFields()->GetField(i));
                additionalFieldDefs_.push_back(copy);
            }
        if (allFieldsCol_)
            for (auto& n : allFieldsCol_->Items()) queryIdx.push_back(feature->GetFields()->FindField(n));
        auto sr = GetGeographicReference(demographic, defaultSpatialReference_);
        if (!CreateResultFeatureClass(sr)) {
            lastError_ = 5;
            return true;
        }
        auto insert = resultFeatureClass_->Insert(true);
        auto buffer = insert->CreateBuffer();
        const long a = static_cast<long>(additionalIdx.size()), q = static_cast<long>(queryIdx.size());
        auto sourceSr = demographic->GetSpatialReference();
        bool reproject = sourceSr && sr && !sourceSr->IsSame(*sr);
        while (feature) {
            if (reproject) {
                // The one buffer serves every area: an area without a shape
                // must not keep the shape of the area before it.
                auto g = feature->Shape();
                if (g) {
                    g->Project(sr);
                    buffer->SetShape(*g);
                } else {
                    buffer->Ogr()->SetGeometryDirectly(nullptr);
                }
            } else {
                buffer->SetShapeCopyFrom(*feature);
            }
            for (long k = 1; k <= a; ++k) buffer->SetValue(k + 1, feature->Value(additionalIdx[k - 1]));
            for (long k = 1; k <= q; ++k) buffer->SetValue(a + k + 1, feature->Value(queryIdx[k - 1]));
            buffer->SetValue(a + q + 2, "Match");
            insert->Insert(*buffer);
            feature = cursor->NextRow();
        }
        insert->Flush();
        insert.reset();
        cursor.reset();
        CreateSpatialIndex(resultFeatureClass_);
        return true;
    } catch (...) {
        // Reported, and the run ends with what it held: no outcome code of
        // its own (47 is for the layer and the search), and not done.
        ReportException(errorHandler_, location);
        return false;
    }
}

}  // namespace pxcp
