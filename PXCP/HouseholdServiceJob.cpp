// The household function's request to the household-data service: the
// list of areas, the query sent with it, and the job followed until the
// service has the result table ready.
#include "PXCP/PXCPHouseholdDataFunction.h"

#include "PXCP/HouseholdText.h"
#include "PXCP/PXAnalysisUtils.h"
#include "host/framework/FunctionRunner.h"
#include "i18n/modi18N.h"
#include "service/HouseholdDataClient.h"

namespace pxcp {

using namespace host;
using namespace household;

namespace {

const host::ErrorLocation Loc("PXCP\\PXCPHouseholdDataFunction.cls");
const char* kGatewayPath = "velmar/QuISAPISOAPGateWay.dll";

}  // namespace

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
        std::string_view text = reply.c_str();
        size_t used = 0;
        double number = LeadingNumber(text, used);
        if (reply.empty() || used < text.size() || number != 1) return Fail(34, client_->LastMessage());
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

}  // namespace pxcp
