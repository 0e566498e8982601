// Times the demographic worker on block groups kept in a PostGIS database:
// it reads them with the where-clause and the extent run by the server and
// writes its output table there, committed. bench/postgis.sh runs the same
// query through psql beside it.
//   bench_postgis_demographic CONNECTION WHERE XMIN YMIN XMAX YMAX [RUNS]
// CONNECTION is "PG:..." with the schema of the table "blockgroups"; the
// outputs go to the schema "bench_out".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "PXCP/PXCPDemographicDataFunction.h"
#include "PXCP/Register.h"
#include "host/framework/HostSession.h"
#include "host/gis/PgConnection.h"

namespace fs = std::filesystem;
using namespace host;

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: bench_postgis_demographic CONNECTION WHERE XMIN YMIN XMAX YMAX [RUNS]\n");
        return 2;
    }
    const std::string connection = argv[1], where = argv[2];
    const gis::Envelope extent{std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]), std::atof(argv[6]), false};
    const int runs = argc > 7 ? std::atoi(argv[7]) : 3;
    try {
        fs::path work = fs::temp_directory_path() / "pxcp-bench-postgis";
        fs::remove_all(work);
        fs::create_directories(work);
        std::ofstream(work / "config.xml") << "<PlexaConfiguration currentDataset=\"Bench\"><Dataset name=\"Bench\" data=\""
                                           << connection << "\"><Layer name=\"BG\" dataset=\"blockgroups\"/></Dataset></PlexaConfiguration>";
        auto session = HostSession::Open((work / "config.xml").string(), (work / "analyses").string());
        pxcp::RegisterPXCPClasses();
        session.extension->SetBoundingGeometry(gis::Geometry::MakeEnvelopePolygon(extent, gis::SpatialReference::FromEPSG(4269)));
        auto output = gis::PgConnection::Parse(connection).InSchema("bench_out").ToString();
        auto layer = std::make_shared<DatasetLayer>();
        layer->datasetName = "blockgroups";

        double best = 1e30;
        long written = 0;
        for (int r = 0; r < runs; ++r) {
            auto start = std::chrono::steady_clock::now();
            auto ws = gis::Workspace::OpenPostGIS(output, "worker_");
            pxcp::PXCPDemographicDataFunction worker;
            worker.Init();
            std::pair<const char*, Variant> params[] = {
                {"IApplication", session.application},
                {"IPXDataManager", session.dataManager},
                {"AnalysisWorkspace", ws},
                {"AnalysisFeatureclassName", "Result"},
                {"QueryString", where},
                {"AllFieldsCol", std::make_shared<StringList>(std::vector<std::string>{"AGE2534", "INC50K"})},
                {"AdditionalFields", std::make_shared<StringList>(std::vector<std::string>{"GEOID", "TOTPOP"})},
                {"MainDSLayer", layer}};
            for (auto& [key, value] : params) worker.SetParam(key, value);
            if (!worker.Start() || worker.LastError() != 0) {
                std::fprintf(stderr, "the worker failed (error %ld)\n", worker.LastError());
                return 1;
            }
            ws->CommitDataset("Result");
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            written = ws->OpenFeatureClass("Result")->RowCount(nullptr);
        }
        std::printf("areas written: %ld\n", written);
        std::printf("worker on PostGIS: %.3f s (best of %d)\n", best, runs);
        fs::remove_all(work);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_postgis_demographic: %s\n", e.what());
        return 1;
    }
    return 0;
}
