// Writes a synthetic set of block-group polygons with demographic fields:
// a grid of irregular twelve-sided cells over the eastern United States.
//   gen_blockgroups OUTDIR [COUNT]
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "GenSupport.h"

int main(int argc, char** argv) {
    auto out = bench::CreateOutput(argc, argv, "gen_blockgroups", 220000, "blockgroups", wkbPolygon);
    if (out.failure) return out.failure;
    OGRFieldDefn id("GEOID", OFTString);
    id.SetWidth(12);
    out.layer->CreateField(&id);
    const char* numeric[] = {"TOTPOP", "TOTHH", "AGE2534", "AGE65UP", "INC50K", "INC100K", "OWNERS", "RENTERS"};
    for (const char* n : numeric) {
        OGRFieldDefn f(n, OFTReal);
        f.SetWidth(12);
        f.SetPrecision(0);
        out.layer->CreateField(&f);
    }
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> u(0, 1);
    long side = static_cast<long>(std::ceil(std::sqrt(static_cast<double>(out.count) * 2)));
    double x0 = -95, y0 = 30, cell = 20.0 / side;
    OGRFeature feature(out.layer->GetLayerDefn());
    out.ds->StartTransaction();
    for (long i = 0; i < out.count; ++i) {
        long col = i % (side * 2), row = i / (side * 2);
        double cx = x0 + (col + 0.5) * cell, cy = y0 + (row + 0.5) * cell;
        auto* ring = new OGRLinearRing();
        for (int k = 0; k <= 12; ++k) {
            double a = 2 * M_PI * (k % 12) / 12;
            double r = cell * (0.45 + 0.05 * u(rng));
            if (k == 12) {
                ring->addPoint(ring->getX(0), ring->getY(0));
                break;
            }
            ring->addPoint(cx + r * std::cos(a), cy + r * std::sin(a));
        }
        OGRPolygon poly;
        poly.addRingDirectly(ring);
        feature.SetGeometry(&poly);
        char geoid[24];
        std::snprintf(geoid, sizeof geoid, "%012ld", 370000000000L + i);
        feature.SetField("GEOID", geoid);
        double pop = 300 + u(rng) * 3000, hh = pop / (2 + u(rng));
        feature.SetField("TOTPOP", std::round(pop));
        feature.SetField("TOTHH", std::round(hh));
        feature.SetField("AGE2534", std::round(pop * (0.05 + 0.2 * u(rng))));
        feature.SetField("AGE65UP", std::round(pop * (0.05 + 0.25 * u(rng))));
        feature.SetField("INC50K", std::round(hh * (0.1 + 0.5 * u(rng))));
        feature.SetField("INC100K", std::round(hh * (0.02 + 0.3 * u(rng))));
        feature.SetField("OWNERS", std::round(hh * (0.3 + 0.6 * u(rng))));
        feature.SetField("RENTERS", std::round(hh * (0.1 + 0.5 * u(rng))));
        feature.SetFID(OGRNullFID);
        if (out.layer->CreateFeature(&feature) != OGRERR_NONE) {
            std::fprintf(stderr, "cannot write block group %ld\n", i);
            return 1;
        }
    }
    out.ds->CommitTransaction();
    GDALClose(out.ds);
    std::printf("%ld block groups written to %s\n", out.count, out.path.c_str());
    return 0;
}
