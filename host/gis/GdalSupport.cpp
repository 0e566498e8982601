#include "host/gis/GdalSupport.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <mutex>

namespace host::gis {

namespace {

std::string& LastErrorRef() {
    static std::string last;
    return last;
}

void CPL_STDCALL QuietErrorHandler(CPLErr cls, CPLErrorNum, const char* msg) {
    if (cls >= CE_Failure) LastErrorRef() = msg ? msg : "";
}

}  // namespace

void EnsureGdal() {
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        CPLSetErrorHandler(QuietErrorHandler);
    });
}

std::string LastGdalError() {
    std::string s = LastErrorRef();
    LastErrorRef().clear();
    return s;
}

std::shared_ptr<GDALDataset> WrapDataset(GDALDataset* ds) {
    return std::shared_ptr<GDALDataset>(ds, [](GDALDataset* d) {
        if (d) GDALClose(GDALDataset::ToHandle(d));
    });
}

void RaiseGdal(const std::string& what) {
    std::string detail = LastGdalError();
    Raise(kErrInvalidCall, detail.empty() ? what : what + ": " + detail, "PXGIS");
}

OGRwkbGeometryType ToOgrGeomType(GeometryType t, bool multi) {
    switch (t) {
        case kGeomPoint: return wkbPoint;
        case kGeomMultipoint: return wkbMultiPoint;
        case kGeomPolyline: return multi ? wkbMultiLineString : wkbLineString;
        case kGeomPolygon: return multi ? wkbMultiPolygon : wkbPolygon;
        default: return wkbUnknown;
    }
}

GeometryType FromOgrGeomType(OGRwkbGeometryType t) {
    switch (wkbFlatten(t)) {
        case wkbPoint: return kGeomPoint;
        case wkbMultiPoint: return kGeomMultipoint;
        case wkbLineString:
        case wkbMultiLineString: return kGeomPolyline;
        case wkbPolygon:
        case wkbMultiPolygon: return kGeomPolygon;
        default: return kGeomNull;
    }
}

void AddOgrFields(OGRLayer* layer, const Fields& fields) {
    for (long i = 0; i < fields.FieldCount(); ++i) {
        const auto& f = fields.GetField(i);
        if (f->type == kFieldOID || f->type == kFieldGeometry) continue;
        OGRFieldType t = OFTString;
        OGRFieldSubType st = OFSTNone;
        int width = 0, prec = 0;
        switch (f->type) {
            case kFieldSmallInteger: t = OFTInteger; st = OFSTInt16; width = f->precision ? f->precision : 6; break;
            case kFieldInteger: t = OFTInteger; width = f->precision ? f->precision : 10; break;
            case kFieldSingle:
            case kFieldDouble: {
                t = OFTReal;
                // The stored width is the field's length, or its precision
                // when it has no length (a dBASE N(width, scale) counts the
                // sign and the point in its width). A double that states
                // neither gets room for any count with eight decimals.
                bool sized = f->length > 0 || f->precision > 0;
                width = f->length > 0 ? f->length : f->precision > 0 ? f->precision : 24;
                prec = sized ? std::max(f->scale, 0) : (f->scale > 0 ? f->scale : 8);
                // dBASE keeps at most 15 decimals, and a digit and the point
                // before them.
                prec = std::min({prec, 15, std::max(width - 2, 0)});
                break;
            }
            case kFieldDate: t = OFTDate; break;
            default: t = OFTString; width = f->length > 0 ? f->length : 50; break;
        }
        OGRFieldDefn fd(f->name.c_str(), t);
        fd.SetSubType(st);
        fd.SetWidth(width);
        fd.SetPrecision(prec);
        if (!f->alias.empty() && f->alias != f->name) fd.SetAlternativeName(f->alias.c_str());
        if (layer->CreateField(&fd) != OGRERR_NONE) RaiseGdal("The field " + f->name + " could not be created");
    }
}

std::string FitDbaseText(const std::string& utf8, int width, bool bytePerCharacter) {
    if (width <= 0) return utf8;
    size_t end = 0, used = 0;
    while (end < utf8.size()) {
        size_t next = end + 1;
        while (next < utf8.size() && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80) ++next;
        size_t cost = bytePerCharacter ? 1 : next - end;
        if (used + cost > static_cast<size_t>(width)) break;
        used += cost;
        end = next;
    }
    return utf8.substr(0, end);
}

}  // namespace host::gis
