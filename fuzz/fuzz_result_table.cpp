// The household counts table as the household worker reads a linked table:
// the byte checks, the GIS reader and the join to six area polygons, with
// the output written into the scratch folder. The same bytes also go
// through the check the client makes of a fetched table.
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "PXCP/PXCPHouseholdDataFunction.h"
#include "host/gis/Gis.h"
#include "service/HouseholdDataClient.h"

namespace fs = std::filesystem;
using namespace host;
using namespace host::gis;

namespace {

SpatialReferencePtr g_wgs;
FeatureClassPtr g_areas;

// Six unit squares keyed A01 to A06 in GEOID.
FeatureClassPtr MakeAreas(const WorkspacePtr& ws) {
    Fields f;
    auto shape = NewField("shape", kFieldGeometry);
    shape->geometryDef.type = kGeomPolygon;
    shape->geometryDef.spatialReference = g_wgs;
    f.AddField(shape);
    f.AddField(NewField("GEOID", kFieldString, "", 12));
    auto fc = ws->CreateFeatureClass("areas", f, "shape");
    auto ins = fc->Insert(true);
    auto buf = ins->CreateBuffer();
    for (int i = 0; i < 6; ++i) {
        buf->SetShape(*Geometry::MakeEnvelopePolygon({double(i), 0, double(i) + 1, 1, false}, g_wgs));
        buf->SetValue(2, "A0" + std::to_string(i + 1));
        ins->Insert(*buf);
    }
    ins->Flush();
    return ws->OpenFeatureClass("areas");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pxfuzz::SetUpHost();
    fs::create_directories(pxfuzz::Scratch() / "data");
    fs::create_directories(pxfuzz::Scratch() / "analysis");
    g_wgs = SpatialReference::FromEPSG(4326);
    g_areas = MakeAreas(Workspace::OpenFolder((pxfuzz::Scratch() / "data").string()));
    FunctionRunner::SetSink(MakeSilentProgress());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    (void)pxcp::HouseholdDataClient::DbfProblem(bytes, {"TOTAL", "TQ"});

    std::string table = pxfuzz::WriteInput("linked.dbf", data, size);
    std::string dir = (pxfuzz::Scratch() / "analysis").string() + "/";
    auto ws = Workspace::OpenFolder(dir);
    if (ws->DatasetExists("Result")) ws->DeleteDataset("Result");
    {
        pxcp::PXCPHouseholdDataFunction f;
        f.Init();
        auto set = [&](const char* k, Variant v) { f.SetParam(k, v); };
        set("DatasetName", "Test");
        set("AnalysisFeatureclassName", "Result");
        set("AnalysisWorkspace", ws);
        set("AnalysisDir", dir);
        set("GeogField", "COUNTY");
        set("DatasetID", "Test");
        set("KeyField", "GEOID");
        set("QFields", "A,B");
        set("QList", "\"x\";\"z\"");
        set("IsNumberTarget", size % 2 == 0);
        set("MinimumTarget", 1.0);
        set("Wait", true);
        set("MainLayerName", "areas");
        set("MainFeatureClass", g_areas);
        set("AnalysisName", "Fuzz run");
        set("DefaultSR", g_wgs);
        set("LinkDBF", true);
        set("DBFFilePath", table);
        FunctionRunner().Run(f, "Clock AVI", "Analysis", "Executing analysis...");
        f.Cleanup();
    }
    pxfuzz::ForgetLogs();
    return 0;
}
