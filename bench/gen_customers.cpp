// Writes a synthetic customer point layer over the synthetic block groups:
// uniformly spread points with a customer number.
//   gen_customers OUTDIR [COUNT]
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: gen_customers OUTDIR [COUNT]\n");
        return 2;
    }
    std::string dir = argv[1];
    long count = argc > 2 ? std::atol(argv[2]) : 1000000;
    std::filesystem::create_directories(dir);
    GDALAllRegister();
    auto* drv = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    std::string path = dir + "/customers.shp";
    if (std::filesystem::exists(path)) drv->Delete(path.c_str());
    GDALDataset* ds = drv->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    if (!ds) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        return 1;
    }
    OGRSpatialReference sr;
    sr.importFromEPSG(4269);
    sr.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    OGRLayer* layer = ds->CreateLayer("customers", &sr, wkbPoint, nullptr);
    OGRFieldDefn id("CUSTNO", OFTInteger);
    layer->CreateField(&id);
    // The block groups cover x -95..-55 and y 30..35 (see gen_blockgroups).
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> ux(-95, -55), uy(30, 35);
    OGRFeature feature(layer->GetLayerDefn());
    for (long i = 0; i < count; ++i) {
        OGRPoint p(ux(rng), uy(rng));
        feature.SetGeometry(&p);
        feature.SetField(0, static_cast<int>(i));
        feature.SetFID(OGRNullFID);
        if (layer->CreateFeature(&feature) != OGRERR_NONE) {
            std::fprintf(stderr, "cannot write customer %ld\n", i);
            return 1;
        }
    }
    GDALClose(ds);
    std::printf("%ld customers written to %s\n", count, path.c_str());
    return 0;
}
