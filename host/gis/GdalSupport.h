// What the GIS layer's own files share over GDAL: owned datasets, errors
// raised with GDAL's reason, and the mapping of host shape and field types
// onto OGR's. Not for use outside host/gis.
#pragma once

#include <ogr_core.h>

#include <memory>
#include <string>
#include <vector>

#include "host/gis/Field.h"
#include "host/gis/Gdal.h"
#include "host/gis/Geometry.h"

class GDALDataset;
class OGRLayer;

namespace host::gis {

// Owns a dataset opened or created through GDAL; closes it with the last
// reference. A null dataset gives a null pointer.
std::shared_ptr<GDALDataset> WrapDataset(GDALDataset* ds);
// Raises "what: GDAL's last error", or just "what" when GDAL said nothing.
[[noreturn]] void RaiseGdal(const std::string& what);

// multi: the multi-part kind, for formats that keep one shape type per layer.
OGRwkbGeometryType ToOgrGeomType(GeometryType t, bool multi);
GeometryType FromOgrGeomType(OGRwkbGeometryType t);

// A connection to a PostGIS database; raises with one line naming the
// database and the server's reason when it cannot be opened.
class PgConnection;
std::shared_ptr<GDALDataset> ConnectPg(const PgConnection& connection, bool update);
// Runs a statement on a database connection; raises "what: the server's reason".
void ExecutePg(GDALDataset& connection, const std::string& sql, const std::string& what);
// The first column of every row a query returns, as text.
std::vector<std::string> QueryPg(GDALDataset& connection, const std::string& sql);

// Creates the attribute fields of a host field list on a layer (the object
// id and shape fields are the layer's own); raises when one is refused.
void AddOgrFields(OGRLayer* layer, const Fields& fields);

// A text as a dBASE field of the given width holds it: the width counts
// bytes of the table's encoding, one per character in the one-byte
// encodings a table is written in by default, and a longer text is cut,
// never split inside a character.
std::string FitDbaseText(const std::string& utf8, int width, bool bytePerCharacter);

}  // namespace host::gis
