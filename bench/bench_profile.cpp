// Times the customer profile against a point-in-polygon join done by ogr2ogr
// with the SQLite dialect on the same data in the same run. The peer walks the
// areas and looks the customers up through the shapefile's spatial index
// (.qix); since the customers are points, their index boxes are the points.
// Beside it, the floor: reading the customers alone, as the profile reads
// them. "nopeer" leaves ogr2ogr out (for the scaling runs).
//   bench_profile DATADIR [RUNS] [nopeer]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "CustomerProfile/PXCPProfileFunction.h"
#include "host/gis/PointIndex.h"
#include "PXAnalysis/WorkspaceUtils.h"
#include "PXCP/Register.h"

namespace fs = std::filesystem;
using namespace host;
using Clock = std::chrono::steady_clock;

namespace {

TaskEntryPtr BenchTask() {
    auto task = std::make_shared<TaskEntry>();
    auto cat = std::make_shared<CategoryDef>();
    cat->id = "People";
    struct T {
        const char *name, *canPercent, *number, *base;
    };
    for (T t : {T{"Population", "False", "TOTPOP", ""}, T{"Households", "False", "TOTHH", ""},
                T{"Income50K", "True", "INC50K", "TOTHH"}, T{"Owners", "True", "OWNERS", "TOTHH"}}) {
        auto target = std::make_shared<TargetDef>();
        target->name = t.name;
        target->properties["CanPercent"] = t.canPercent;
        target->numberFields["1"] = t.number;
        if (*t.base) target->percentFields["1"] = t.base;
        cat->targets.push_back(target);
    }
    task->categories.push_back(cat);
    return task;
}

CollectionPtr Rows(const TaskEntry& task) {
    auto rows = std::make_shared<Collection>();
    for (auto& t : task.categories.front()->targets) {
        auto r = std::make_shared<Collection>();
        r->Add("People", "0");
        r->Add(t->name, "1");
        r->Add(1, "2");
        r->Add(1, "3");
        r->Add(0.0, "Value");
        r->Add(std::string(), "Chance");
        rows->Add(r, std::to_string(rows->Count()));
    }
    return rows;
}

// Runs a shell command, returning its standard output.
std::string Capture(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) out.clear();
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_profile DATADIR [RUNS]\n");
        return 2;
    }
    std::string data = fs::absolute(argv[1]).string();
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    bool peer = !(argc > 3 && std::string(argv[3]) == "nopeer");
    for (const char* f : {"blockgroups.shp", "customers.shp"})
        if (!fs::exists(data + "/" + f)) {
            std::fprintf(stderr, "no %s in %s (run gen_blockgroups and gen_customers first)\n", f, data.c_str());
            return 1;
        }
    RegisterHostClasses();
    pxcp::RegisterPXCPClasses();
    auto task = BenchTask();
    auto query = std::make_shared<DataQuery>();
    query->featureClass = gis::Workspace::OpenFolder(data)->OpenFeatureClass("blockgroups");
    auto customers = pxcp::OpenLayerFile(data + "/customers.shp");
    if (!query->featureClass || !customers) {
        std::fprintf(stderr, "cannot open the benchmark layers in %s\n", data.c_str());
        return 1;
    }
    long points = customers->featureClass->RowCount(nullptr);

    double best = 1e30;
    long inside = 0;
    CollectionPtr rows;
    for (int r = 0; r < runs; ++r) {
        rows = Rows(*task);
        pxcp::PXCPProfileFunction f;
        auto set = [&](const char* k, Variant v) { f.SetParam(k, v); };
        set("Application", std::make_shared<gis::Application>());
        set("CustomerLayer", customers);
        set("SelectedOnly", false);
        set("CustomerProspectingTask", task);
        set("ParamsCollection", rows);
        set("YearIndex", static_cast<int16_t>(1));
        set("DemogrLayerID", "blockgroups");
        set("DataQueryObject", query);
        set("CharacteristicsGrid", rows);
        auto t0 = Clock::now();
        if (!f.Init() || FunctionRunner().Run(f, "Clock AVI", "Analysis", "Profiling") != FunctionRunner::kCompleted ||
            f.LastError() != 0) {
            std::fprintf(stderr, "the profile failed (error %ld)\n", f.LastError());
            return 1;
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
        inside = f.CustomersInside();
    }

    // The floor: the customers' points read into memory, and nothing else.
    double floor = 1e30;
    for (int r = 0; r < runs; ++r) {
        auto t0 = Clock::now();
        std::vector<gis::PointGrid::Point> read;
        read.reserve(static_cast<size_t>(points));
        gis::PrepareToFill(read.data(), read.capacity() * sizeof(read[0]));
        gis::ReadShapefilePoints(*customers->featureClass, [&](const gis::OidPoint& p) {
            read.push_back({p.x, p.y, 1});
        });
        floor = std::min(floor, std::chrono::duration<double>(Clock::now() - t0).count());
        if (static_cast<long>(read.size()) != points) std::fprintf(stderr, "read %zu customers\n", read.size());
    }
    auto row = [&](long k) { return rows->Item(k).As<Collection>()->Item("Value").ToDouble(); };
    if (!peer) {
        std::printf("customers: %ld, inside an area: %ld, average population: %.1f\n", points, inside, row(1));
        std::printf("profile: %.3f s (best of %d), %.2f M points/s; floor (reading the customers alone): %.3f s\n", best,
                    runs, static_cast<double>(points) / best / 1e6, floor);
        return 0;
    }

    // The peer needs the spatial indexes; building them is not timed.
    for (const char* layer : {"blockgroups", "customers"})
        if (!fs::exists(data + "/" + layer + ".qix")) {
            std::string cmd = "ogrinfo -q '" + data + "/" + layer + ".shp' -sql 'CREATE SPATIAL INDEX ON " + layer +
                              "' > /dev/null";
            if (std::system(cmd.c_str()) != 0) {
                std::fprintf(stderr, "cannot index %s for ogr2ogr\n", layer);
                return 1;
            }
        }
    // Naming the customers table makes the dialect expose its index table.
    const std::string sql =
        "SELECT b.GEOID, COUNT(*) AS n, SUM(b.TOTPOP) AS pop FROM blockgroups b "
        "CROSS JOIN idx_customers_GEOMETRY i "
        "WHERE i.xmin <= MbrMaxX(b.GEOMETRY) AND i.xmax >= MbrMinX(b.GEOMETRY) "
        "AND i.ymin <= MbrMaxY(b.GEOMETRY) AND i.ymax >= MbrMinY(b.GEOMETRY) "
        "AND ST_Intersects(b.GEOMETRY, MakePoint(i.xmin, i.ymin, 4269)) "
        "AND NOT EXISTS (SELECT 1 FROM customers WHERE 0) GROUP BY b.GEOID";
    const std::string cmd = "ogr2ogr -f CSV /vsistdout/ '" + data + "' -dialect SQLite -sql \"" + sql + "\"";
    double bestPeer = 1e30;
    long matched = 0;
    double peerPop = 0;
    for (int r = 0; r < runs; ++r) {
        auto t0 = Clock::now();
        std::string csv = Capture(cmd);
        if (csv.empty()) {
            std::fprintf(stderr, "ogr2ogr failed\n");
            return 1;
        }
        bestPeer = std::min(bestPeer, std::chrono::duration<double>(Clock::now() - t0).count());
        matched = 0;
        peerPop = 0;
        size_t pos = csv.find('\n') + 1;
        while (pos < csv.size()) {
            size_t end = csv.find('\n', pos);
            std::string line = csv.substr(pos, end - pos);
            size_t c1 = line.find(','), c2 = line.find(',', c1 + 1);
            auto num = [&](size_t from, size_t to) {
                std::string s = line.substr(from, to == std::string::npos ? std::string::npos : to - from);
                std::erase(s, '"');
                return std::atof(s.c_str());
            };
            matched += static_cast<long>(num(c1 + 1, c2));
            peerPop += num(c2 + 1, std::string::npos);
            pos = end == std::string::npos ? csv.size() : end + 1;
        }
    }

    // The peer takes the points from SQLite's R-tree, which keeps 32-bit
    // coordinates rounded outwards: a point within some 1e-5 degrees of an
    // edge may land on its other side, so a few dozen in a million differ.
    std::printf("customers: %ld, inside an area: profile %ld, ogr2ogr %ld (its points rounded to 32 bits)\n", points,
                inside, matched);
    std::printf("average population: profile %.1f, ogr2ogr %.1f\n", row(1),
                matched ? peerPop / static_cast<double>(matched) : 0.0);
    std::printf("profile: %.3f s (best of %d), %.2f M points/s (target >= 3)\n", best, runs,
                static_cast<double>(points) / best / 1e6);
    std::printf("floor, reading the customers alone: %.3f s, %.2f M points/s; profile/floor %.2f\n", floor,
                static_cast<double>(points) / floor / 1e6, best / floor);
    std::printf("ogr2ogr: %.3f s (best of %d), %.2f M points/s\n", bestPeer, runs,
                static_cast<double>(points) / bestPeer / 1e6);
    std::printf("ratio profile/ogr2ogr: %.3f (target < 1)\n", best / bestPeer);
    return 0;
}
