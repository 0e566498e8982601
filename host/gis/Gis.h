// GIS object model of the host over GDAL/OGR, all of it: spatial
// references, geometries, fields, rows and cursors, tables and feature
// classes, workspaces and layer sources. Include the single header a file
// needs where it can; this one is for files that use most of them.
#pragma once

#include "host/gis/Cursor.h"
#include "host/gis/Field.h"
#include "host/gis/Gdal.h"
#include "host/gis/Geometry.h"
#include "host/gis/LayerSource.h"
#include "host/gis/Row.h"
#include "host/gis/SpatialReference.h"
#include "host/gis/Table.h"
#include "host/gis/Workspace.h"
