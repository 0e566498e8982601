// What the generators of synthetic data share: their command line
// (OUTDIR [COUNT]) and a new shapefile layer in NAD83 geographic
// coordinates, replacing any file of that name.
#pragma once

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace bench {

// The generator's output: how many features to write, and the layer to
// write them to (the caller closes the dataset). failure is the exit code
// when there is none: 2 for a bad command line, 1 when the file cannot be
// made, each after a message on stderr.
struct GenOutput {
    long count = 0;
    std::string path;
    GDALDataset* ds = nullptr;
    OGRLayer* layer = nullptr;
    int failure = 0;
};

// OUTDIR/NAME.shp with one layer NAME of the given shape type.
inline GenOutput CreateOutput(int argc, char** argv, const char* program, long defaultCount, const std::string& name,
                              OGRwkbGeometryType type) {
    GenOutput out;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTDIR [COUNT]\n", program);
        out.failure = 2;
        return out;
    }
    std::string dir = argv[1];
    out.count = argc > 2 ? std::atol(argv[2]) : defaultCount;
    std::filesystem::create_directories(dir);
    GDALAllRegister();
    auto* drv = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    out.path = dir + "/" + name + ".shp";
    if (std::filesystem::exists(out.path)) drv->Delete(out.path.c_str());
    out.ds = drv->Create(out.path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    if (!out.ds) {
        std::fprintf(stderr, "cannot create %s\n", out.path.c_str());
        out.failure = 1;
        return out;
    }
    OGRSpatialReference sr;
    sr.importFromEPSG(4269);
    sr.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    // Without the dBASE end mark each record is written without a seek back.
    const char* options[] = {"DBF_EOF_CHAR=NO", nullptr};
    out.layer = out.ds->CreateLayer(name.c_str(), &sr, type, const_cast<char**>(options));
    return out;
}

}  // namespace bench
