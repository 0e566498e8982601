# shellcheck shell=bash disable=SC2154
# The NC counties and their customers in every form the matrix runs on, and
# the answers computed from them without plexa; sourced by matrix.sh after
# $sample, $data and $ref are set.
#
#   make_forms SRS...        $data/SRS/: nc.shp, cust.shp, nc.gpkg (layers nc
#                            and customers), nc.fgb, cust.fgb; converted with
#                            ogr2ogr from the sample's NAD27 counties and the
#                            ZIP-code centres around North Carolina
#   load_postgis SCHEMA SRS...  the same into SCHEMA.nc_SRS and SCHEMA.cust_SRS
#   make_references SRS...   $ref/: the areas' extent and centroids in
#                            EPSG:4326, every key, and per SRS the profile
#                            and the linked-table join by SpatiaLite

# The customers: the ZIP-code centres in a box around the state, so that
# every one of them has a place in a UTM zone and in the State Plane.
customers_box="-85 33 -75 37.2"

# The household table an analyst links: one row for four areas in five (a
# key the areas have), the births as the households read and, where the
# infant deaths are at least 10, the non-white births as those that match.
linked_sql="SELECT FIPS AS GEOG, CAST(BIR79 AS INTEGER) AS TOTAL,
  CASE WHEN SID79 >= 10 THEN CAST(NWBIR79 AS INTEGER) ELSE 0 END AS TQ
  FROM nc WHERE CAST(FIPSNO AS INTEGER) % 5 <> 0"

quiet_ogr2ogr() {  # ogr2ogr, its warnings kept for when it fails
  ogr2ogr "$@" 2>"$data/ogr2ogr.err" || { echo "ogr2ogr $*:" >&2; cat "$data/ogr2ogr.err" >&2; return 1; }
}

make_forms() {
  mkdir -p "$data"
  # shellcheck disable=SC2086
  quiet_ogr2ogr -spat $customers_box "$data/cust-4326.shp" "$sample/zipcodes.shp" || return 1
  quiet_ogr2ogr -f "ESRI Shapefile" "$data/linked.dbf" "$sample/nc.shp" -dialect SQLite -sql "$linked_sql" || return 1
  local srs d
  for srs in "$@"; do
    d="$data/$srs"
    mkdir -p "$d"
    quiet_ogr2ogr -t_srs "EPSG:$srs" "$d/nc.shp" "$sample/nc.shp" &&
    quiet_ogr2ogr -t_srs "EPSG:$srs" "$d/cust.shp" "$data/cust-4326.shp" &&
    quiet_ogr2ogr -f GPKG "$d/nc.gpkg" "$d/nc.shp" -nln nc -nlt PROMOTE_TO_MULTI &&
    quiet_ogr2ogr -update "$d/nc.gpkg" "$d/cust.shp" -nln customers &&
    quiet_ogr2ogr -f FlatGeobuf "$d/nc.fgb" "$d/nc.shp" -nln nc -nlt PROMOTE_TO_MULTI &&
    quiet_ogr2ogr -f FlatGeobuf "$d/cust.fgb" "$d/cust.shp" -nln cust || return 1
  done
}

load_postgis() {
  local schema=$1 srs
  shift
  psql -X -q -v ON_ERROR_STOP=1 -c "SET client_min_messages = warning; DROP SCHEMA IF EXISTS $schema CASCADE; DROP SCHEMA IF EXISTS ${schema}_out CASCADE;
    CREATE SCHEMA $schema" >/dev/null || return 1
  for srs in "$@"; do
    quiet_ogr2ogr -f PostgreSQL "PG:dbname=$PGDATABASE" "$data/$srs/nc.shp" -nln "$schema.nc_$srs" \
      -lco GEOMETRY_NAME=geom -lco FID=gid -nlt PROMOTE_TO_MULTI &&
    quiet_ogr2ogr -f PostgreSQL "PG:dbname=$PGDATABASE" "$data/$srs/cust.shp" -nln "$schema.cust_$srs" \
      -lco GEOMETRY_NAME=geom -lco FID=gid || return 1
  done
}

# CSV rows (no header, no quotes) of a SQLite-dialect query on a datasource.
sql_rows() {  # DATASOURCE SQL
  ogr2ogr -f CSV /vsistdout/ "$1" -dialect SQLite -sql "$2" 2>"$ref/sql.err" | tail -n +2 | tr -d '"\r'
}

# "KEY,X,Y" of every feature of a layer already in EPSG:4326, sorted by key.
centroids() {  # DATASOURCE LAYER KEYFIELD
  sql_rows "$1" "SELECT $3, ST_X(ST_Centroid(geom)), ST_Y(ST_Centroid(geom)) FROM \"$2\"" | sort
}

make_references() {
  mkdir -p "$ref"
  quiet_ogr2ogr -f GPKG "$ref/areas-4326.gpkg" "$sample/nc.shp" -t_srs EPSG:4326 -nln areas \
    -nlt PROMOTE_TO_MULTI -lco GEOMETRY_NAME=geom || return 1
  ogrinfo -ro -so "$ref/areas-4326.gpkg" areas | sed -n 's/^Extent: (\(.*\), \(.*\)) - (\(.*\), \(.*\))$/\1 \2 \3 \4/p' \
    >"$ref/extent"
  centroids "$ref/areas-4326.gpkg" areas FIPS >"$ref/centroids"
  cut -d, -f1 "$ref/centroids" >"$ref/keys"
  [ -s "$ref/extent" ] && [ "$(wc -l <"$ref/keys")" = 100 ] || { echo "the areas' references could not be made" >&2; return 1; }
  local srs g
  for srs in "$@"; do
    # One GeoPackage holding the areas, the customers and the linked table
    # of this coordinate system, for the joins.
    g="$ref/join-$srs.gpkg"
    rm -f "$g"
    quiet_ogr2ogr -f GPKG "$g" "$data/$srs/nc.shp" -nln areas -nlt PROMOTE_TO_MULTI -lco GEOMETRY_NAME=geom &&
    quiet_ogr2ogr -update "$g" "$data/$srs/cust.shp" -nln customers -lco GEOMETRY_NAME=geom &&
    quiet_ogr2ogr -update "$g" "$data/linked.dbf" -nln linked || return 1
    # A customer counts the values of every area it lies in (twice when it
    # lies on the border of two); a share is averaged as a percentage of
    # its base, an area without any counting as 0.
    sql_rows "$g" "SELECT COUNT(DISTINCT c.fid), AVG(a.BIR79),
        AVG(CASE WHEN a.SID79 > 0 THEN 100.0 * a.SID79 / a.BIR79 ELSE 0 END),
        AVG(CASE WHEN a.NWBIR79 > 0 THEN 100.0 * a.NWBIR79 / a.BIR79 ELSE 0 END)
      FROM customers c JOIN areas a ON ST_Intersects(c.geom, a.geom)" >"$ref/profile-$srs"
    # A linked table is run as the analysis was made when it did not wait:
    # no minimum asked for, so every area with a matching household.
    sql_rows "$g" "SELECT a.FIPS, t.TOTAL, t.TQ, printf('%.2f', t.TQ * 100.0 / t.TOTAL)
      FROM areas a JOIN linked t ON a.FIPS = t.GEOG WHERE t.TQ > 0" | sort >"$ref/linked-$srs"
    [ -s "$ref/profile-$srs" ] && [ -s "$ref/linked-$srs" ] ||
      { echo "the joins of EPSG:$srs could not be made:" >&2; cat "$ref/sql.err" >&2; return 1; }
  done
}
