// Writes a synthetic customer point layer over the synthetic block groups:
// uniformly spread points with a customer number.
//   gen_customers OUTDIR [COUNT]
#include <cstdio>
#include <random>
#include <string>

#include "GenSupport.h"

int main(int argc, char** argv) {
    auto out = bench::CreateOutput(argc, argv, "gen_customers", 1000000, "customers", wkbPoint);
    if (out.failure) return out.failure;
    OGRFieldDefn id("CUSTNO", OFTInteger);
    out.layer->CreateField(&id);
    // The block groups cover x -95..-55 and y 30..35 (see gen_blockgroups).
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> ux(-95, -55), uy(30, 35);
    OGRFeature feature(out.layer->GetLayerDefn());
    for (long i = 0; i < out.count; ++i) {
        OGRPoint p(ux(rng), uy(rng));
        feature.SetGeometry(&p);
        feature.SetField(0, static_cast<int>(i));
        feature.SetFID(OGRNullFID);
        if (out.layer->CreateFeature(&feature) != OGRERR_NONE) {
            std::fprintf(stderr, "cannot write customer %ld\n", i);
            return 1;
        }
    }
    GDALClose(out.ds);
    std::printf("%ld customers written to %s\n", out.count, out.path.c_str());
    return 0;
}
