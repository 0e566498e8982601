#include "PXCP/PXCPHouseholdDataFunction.h"

#include <map>

#include <ogr_geometry.h>

#include "PXCP/HouseholdShapeStore.h"
#include "PXCP/HouseholdText.h"
#include "PXCP/PXAnalysisUtils.h"
#include "host/framework/ParamTable.h"
#include "host/gis/ShapefileWriter.h"
#include "service/HouseholdDataClient.h"

namespace pxcp {

using namespace host;
using namespace household;

namespace {

const host::ErrorLocation Loc("PXCP\\PXCPHouseholdDataFunction.cls");

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

}  // namespace

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

}  // namespace pxcp
