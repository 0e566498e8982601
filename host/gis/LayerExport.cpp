#include "host/gis/LayerExport.h"

#include <gdal_priv.h>
#include <ogr_geometry.h>
#include <ogrsf_frmts.h>

#include <filesystem>
#include <memory>
#include <random>

namespace fs = std::filesystem;

namespace host::gis {

namespace {

// "Path/File access error" of the host's error numbers.
constexpr long kErrPathFileAccess = 75;

struct DatasetCloser {
    void operator()(GDALDataset* ds) const { GDALClose(ds); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    std::string why = LastGdalError();
    Raise(kErrPathFileAccess, path + " could not be written: " + what + (why.empty() ? "" : " (" + why + ")"), "PXGIS");
}

// A scratch name beside the target, with the extension the driver goes by.
fs::path ScratchBeside(const fs::path& target, const char* extension) {
    std::random_device rd;
    for (int i = 0; i < 100; ++i) {
        fs::path p = target.parent_path() / ("." + target.stem().string() + "-" + std::to_string(rd() % 1000000) + extension);
        if (!fs::exists(p)) return p;
    }
    Raise(kErrPathFileAccess, "no scratch name beside " + target.string() + " is free", "PXGIS");
}

// GeoPackage layers hold one kind of shape: single areas and lines go in
// as multi-part ones, since shapefiles mix the two under one type.
OGRwkbGeometryType StoredType(OGRwkbGeometryType t, ExportFormat format) {
    if (format != ExportFormat::kGeoPackage) return t;
    switch (wkbFlatten(t)) {
        case wkbPolygon: return OGR_GT_SetModifier(wkbMultiPolygon, OGR_GT_HasZ(t), OGR_GT_HasM(t));
        case wkbLineString: return OGR_GT_SetModifier(wkbMultiLineString, OGR_GT_HasZ(t), OGR_GT_HasM(t));
        default: return t;
    }
}

long CopyFeatures(const FeatureLayer& layer, GDALDataset& out, const std::string& name, ExportFormat format,
                  bool selectedOnly, const std::string& path) {
    const Table& fc = *layer.featureClass;
    // The layer is read through a connection of its own, so that the map's
    // cursors on it are left where they are.
    auto in = fc.OpenReader();
    OGRLayer* src = in.layer;
    if (!src) Raise(kErrPathFileAccess, "the layer " + layer.name + " cannot be read from " + fc.DataPath(), "PXGIS");

    auto sr = fc.GetSpatialReference();
    OGRwkbGeometryType type = fc.HasShape() ? StoredType(src->GetGeomType(), format) : wkbNone;
    char** options = nullptr;
    if (format == ExportFormat::kCsv && type != wkbNone)
        options = CSLSetNameValue(options, "GEOMETRY", wkbFlatten(type) == wkbPoint ? "AS_XY" : "AS_WKT");
    OGRLayer* dst = out.CreateLayer(name.c_str(), sr ? &sr->Ogr() : nullptr, type, options);
    CSLDestroy(options);
    if (!dst) Fail(path, "its layer could not be made");
    OGRFeatureDefn* defn = src->GetLayerDefn();
    for (int i = 0; i < defn->GetFieldCount(); ++i)
        if (dst->CreateField(defn->GetFieldDefn(i)) != OGRERR_NONE)
            Fail(path, std::string("the field ") + defn->GetFieldDefn(i)->GetNameRef() + " could not be made");

    long written = 0;
    bool transaction = out.StartTransaction() == OGRERR_NONE;
    auto write = [&](OGRFeature& f) {
        std::unique_ptr<OGRFeature> copy(OGRFeature::CreateFeature(dst->GetLayerDefn()));
        copy->SetFrom(&f, TRUE);
        if (OGRGeometry* g = copy->GetGeometryRef(); g && wkbFlatten(type) != wkbFlatten(g->getGeometryType())) {
            if (wkbFlatten(type) == wkbMultiPolygon) copy->SetGeometryDirectly(OGRGeometryFactory::forceToMultiPolygon(copy->StealGeometry()));
            else if (wkbFlatten(type) == wkbMultiLineString)
                copy->SetGeometryDirectly(OGRGeometryFactory::forceToMultiLineString(copy->StealGeometry()));
        }
        if (dst->CreateFeature(copy.get()) != OGRERR_NONE) Fail(path, "a feature could not be written");
        ++written;
    };
    if (selectedOnly) {
        for (long id : layer.selection)
            if (std::unique_ptr<OGRFeature> f(src->GetFeature(id)); f) write(*f);
    } else {
        src->ResetReading();
        while (std::unique_ptr<OGRFeature> f{src->GetNextFeature()}) write(*f);
    }
    if (transaction && out.CommitTransaction() != OGRERR_NONE) Fail(path, "its features could not be stored");
    return written;
}

}  // namespace

ExportFormat ExportFormatFor(const std::string& path) {
    std::string ext = LCase(fs::path(path).extension().string());
    if (ext == ".gpkg") return ExportFormat::kGeoPackage;
    if (ext == ".csv") return ExportFormat::kCsv;
    Raise(kErrInvalidCall, path + ": a layer is exported to a GeoPackage (.gpkg) or a CSV table (.csv)", "PXGIS");
}

long ExportLayer(const FeatureLayer& layer, const std::string& path, bool selectedOnly) {
    EnsureGdal();
    ExportFormat format = ExportFormatFor(path);
    if (!layer.featureClass) Raise(kErrInvalidCall, "the layer " + layer.name + " has no data to export", "PXGIS");
    fs::path target = fs::absolute(path);
    std::error_code ec;
    if (fs::equivalent(target, fs::absolute(layer.featureClass->DataPath()), ec))
        Raise(kErrInvalidCall, path + " is the file the layer is read from: export to another file", "PXGIS");
    if (!fs::is_directory(target.parent_path()))
        Raise(kErrPathNotFound, "the folder " + target.parent_path().string() + " does not exist", "PXGIS");

    fs::path scratch = ScratchBeside(target, format == ExportFormat::kGeoPackage ? ".gpkg" : ".csv");
    const char* driverName = format == ExportFormat::kGeoPackage ? "GPKG" : "CSV";
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName);
    if (!driver) Raise(kErrPathFileAccess, std::string("GDAL has no ") + driverName + " driver", "PXGIS");
    long written = 0;
    try {
        DatasetPtr out(driver->Create(scratch.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        if (!out) Fail(path, "the file could not be made");
        written = CopyFeatures(layer, *out, target.stem().string(), format, selectedOnly, path);
        out.reset();
        fs::rename(scratch, target);
    } catch (...) {
        fs::remove(scratch, ec);
        throw;
    }
    return written;
}

}  // namespace host::gis
