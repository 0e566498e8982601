#include <ogr_geometry.h>

#include <cctype>

#include "host/framework/ConfigChecker.h"
#include "host/gis/Cursor.h"
#include "host/Object.h"

namespace host::config_check {

namespace {

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string Suggestion(const std::string& name, const std::vector<std::string>& known) {
    size_t best = 3;
    std::string found;
    for (auto& k : known) {
        size_t d = EditDistance(name, k);
        if (d < best && d < k.size()) best = d, found = k;
    }
    return found.empty() ? "" : "; did you mean " + found + "?";
}

std::string List(const std::vector<std::string>& names) {
    std::string s;
    for (auto& n : names) s += (s.empty() ? "" : ", ") + n;
    return s.empty() ? "none" : s;
}

std::string OneLine(std::string s) {
    std::replace(s.begin(), s.end(), '\n', ' ');
    std::replace(s.begin(), s.end(), '\r', ' ');
    return Trim(s);
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string Describe(gis::FieldType t) {
    switch (t) {
        case gis::kFieldString: return "text";
        case gis::kFieldDate: return "a date";
        case gis::kFieldOID: return "the object id";
        case gis::kFieldGeometry: return "the shape";
        default: return "a number";
    }
}

bool IsNumeric(gis::FieldType t) {
    return t == gis::kFieldSmallInteger || t == gis::kFieldInteger || t == gis::kFieldSingle || t == gis::kFieldDouble;
}

std::string NotPolygons(const gis::Table& fc) {
    if (!fc.HasShape()) return "no shapes";
    switch (fc.ShapeType()) {
        case gis::kGeomPolygon: return "";
        case gis::kGeomPoint:
        case gis::kGeomMultipoint: return "points";
        case gis::kGeomPolyline: return "lines";
        default: break;
    }
    gis::QueryFilter all;
    auto cursor = fc.Search(&all, true);
    int seen = 0;
    for (auto row = cursor->NextRow(); row && seen < 100; row = cursor->NextRow()) {
        const OGRGeometry* g = row->ShapeRef();
        if (!g) continue;
        ++seen;
        auto t = wkbFlatten(g->getGeometryType());
        if (t != wkbPolygon && t != wkbMultiPolygon) return "a mix of shapes";
    }
    return "";
}

}  // namespace host::config_check
