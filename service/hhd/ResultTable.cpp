#include "service/hhd/ResultTable.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "service/hhd/Scratch.h"

namespace fs = std::filesystem;

namespace hhd {

namespace {

uint64_t Fnv(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// Households read in an area, and how many of them match the query.
std::pair<long, long> Households(const std::string& key, const Job& job) {
    long read = 200 + static_cast<long>(Fnv("households:" + key) % 4800);
    double share = static_cast<double>(Fnv(key + "|" + job.qfields + "|" + job.qlist) % 1000) / 1000.0 * 0.6;
    return {read, static_cast<long>(read * share)};
}

std::string GdalError(const std::string& what) {
    std::string detail = CPLGetLastErrorMsg();
    return what + (detail.empty() ? "" : ": " + detail);
}

struct CloseDataset {
    void operator()(GDALDataset* ds) const { GDALClose(ds); }
};

bool WriteTable(const Job& job, const std::string& path, std::string& why) {
    auto* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    if (!driver) {
        why = "GDAL has no ESRI Shapefile driver";
        return false;
    }
    CPLErrorReset();
    std::unique_ptr<GDALDataset, CloseDataset> ds(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!ds) {
        why = GdalError("cannot create " + path);
        return false;
    }
    OGRLayer* layer = ds->CreateLayer("result", nullptr, wkbNone, nullptr);
    if (!layer) {
        why = GdalError("cannot create the table in " + path);
        return false;
    }
    OGRFieldDefn geog("GEOG", OFTString);
    geog.SetWidth(12);
    bool ok = layer->CreateField(&geog) == OGRERR_NONE;
    for (const char* n : {"TQ", "TOTAL"}) {
        OGRFieldDefn f(n, OFTInteger);
        f.SetWidth(11);
        ok = ok && layer->CreateField(&f) == OGRERR_NONE;
    }
    if (!ok) {
        why = GdalError("cannot add the fields to " + path);
        return false;
    }
    OGRFeature feature(layer->GetLayerDefn());
    job.areas->ForEach([&](const std::string& key) {
        if (!ok) return;
        auto [read, total] = Households(key, job);
        feature.SetFID(OGRNullFID);
        feature.SetField(0, key.c_str());
        feature.SetField(1, static_cast<int>(job.linkLayout ? total : read));
        feature.SetField(2, static_cast<int>(job.linkLayout ? read : total));
        ok = layer->CreateFeature(&feature) == OGRERR_NONE;
    });
    if (!ok) why = GdalError("cannot write a row of " + path);
    return ok;
}

}  // namespace

bool ResultTable(const Job& job, std::string& bytes, std::string& why) {
    std::string dir = MakeScratchSubfolder(why);
    if (dir.empty()) return false;
    std::string path = (fs::path(dir) / "result.dbf").string();
    bool ok = WriteTable(job, path, why);
    if (ok) {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ok = in.good() || in.eof();
        if (!ok || bytes.empty()) {
            why = "cannot read back " + path;
            ok = false;
        }
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return ok;
}

}  // namespace hhd
