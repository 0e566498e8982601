#!/bin/bash
# Results opened in QGIS as a colleague would open them: the demographic
# way, a household run that waited and one that did not, each written as a
# shapefile, into a GeoPackage and into the PostGIS database; then Debian's
# QGIS loads each layer's default style (tests/qgis_styles_check.py) and
# must find it drawn as plexa draws it. A run that is opened again with its
# linked table gets its new style in place of the old. QGIS's own pictures
# of the results are left in WORKDIR/shots.
# Exits 77 (skipped) when python3-qgis is not installed.
#   qgis_styles_tests.sh BUILD_DIR SOURCE_DIR WORKDIR PG_STATE
set -u
build=$1 src=$2 work=$3 state=$4
plexa=$build/plexa

# Debian's QGIS binds Debian's python, which may not be the first on PATH.
python=
for p in /usr/bin/python3 python3; do
  if command -v "$p" >/dev/null 2>&1 && "$p" -c 'import qgis.core' >/dev/null 2>&1; then python=$p; break; fi
done
if [ -z "$python" ]; then
  echo "SKIP: python3-qgis not installed (scripts/install-deps.sh installs it)"
  exit 77
fi

. "$state/env" || { echo "FAIL: no PostGIS test server in $state"; exit 1; }
rm -rf "$work"
mkdir -p "$work"
. "$(dirname "$0")/cli_support.sh"
sql() { PGOPTIONS='-c client_min_messages=warning' psql -X -q -A -t -v ON_ERROR_STOP=1 -c "$1"; }

schema=qgis_styles
sql "DROP SCHEMA IF EXISTS $schema CASCADE"
sql "DELETE FROM public.layer_styles WHERE f_table_schema = '$schema'" 2>/dev/null
sed "s|data=\"sample\"|data=\"$src/data/sample\"|" "$src/data/nc.xml" >"$work/shapefile.xml"
sed 's|<Setting name="Data Format" value="Shapefile"/>|<Setting name="Data Format" value="Personal Geodatabase"/>|' \
  "$work/shapefile.xml" >"$work/geopackage.xml"
sed -e "s|<Dataset name=\"North Carolina\" data=\"sample\">|<Dataset name=\"North Carolina\" database=\"plexa\" host=\"$PGHOST\" schema=\"demo\">|" \
    -e "s|<Setting name=\"Data Format\" value=\"Shapefile\"/>|<Setting name=\"Data Format\" value=\"PostGIS\"/><Setting name=\"Output Schema\" value=\"$schema\"/>|" \
    "$src/data/nc.xml" >"$work/postgis.xml"
for f in geopackage postgis; do
  cmp -s "$work/shapefile.xml" "$work/$f.xml" && fail "the $f configuration was not made from data/nc.xml"
done

# The household-data service of the tests, and a login of this run's own.
"$build/plexa-hhd" --port 0 --job-seconds 0 >"$work/hhd.log" 2>&1 &
hhd=$!
trap 'kill $hhd 2>/dev/null' EXIT
for _ in $(seq 50); do grep -q listening "$work/hhd.log" && break; sleep 0.2; done
PLEXA_HOUSEHOLD_SERVICE=$(sed -n 's/^listening on //p' "$work/hhd.log" | head -1)
XDG_CONFIG_HOME=$work/config PLEXA_REGISTRY=$work/config/registry.ini PLEXA_PASSWORD=demo
export PLEXA_HOUSEHOLD_SERVICE XDG_CONFIG_HOME PLEXA_REGISTRY PLEXA_PASSWORD
[ -n "$PLEXA_HOUSEHOLD_SERVICE" ] || fail "the household-data service did not start"

# What QGIS opens for an output plexa names: the file, or the table of the
# database as QGIS's browser names it, with its shape column.
uri_of() {  # OUTPUT
  case $1 in
  PG:*)
    local table=${1##*|} geom
    geom=$(sql "SELECT f_geometry_column FROM geometry_columns WHERE f_table_schema = '$schema' AND f_table_name = '$table'")
    echo "postgres:dbname=plexa host=$PGHOST table=\"$schema\".\"$table\" ($geom)"
    ;;
  *) echo "$1" ;;
  esac
}
output_of() { sed -n 's/^output: //p' "$work/out" | tail -1; }

checks=()
for way in shapefile geopackage postgis; do
  cfg=$work/$way.xml analyses=$work/$way
  run 0 "areas found: 18" "$plexa" demographic --config "$cfg" --analyses "$analyses" --level Counties \
    --dmq "$src/data/high-sids.dmq" --name "High SIDS"
  checks+=("single=$(uri_of "$(output_of)")")
  run 0 "areas found: [0-9]+" "$plexa" household --config "$cfg" --analyses "$analyses" --level Counties \
    --hhq "$src/data/young-families.hhq" --name "Young families" --user demo
  checks+=("graduated=$(uri_of "$(output_of)")")
  run 0 "job id: HH" "$plexa" household --config "$cfg" --analyses "$analyses" --level Counties \
    --hhq "$src/data/young-families.hhq" --name "Young families later" --user demo --no-wait
  checks+=("single=$(uri_of "$(output_of)")")
  [ "$way" = geopackage ] && job=$(sed -n 's/^job id: \([A-Z0-9]*\).*/\1/p' "$work/out")
done

# QGIS loads the default style of each and reports "ok:" or "FAIL:" for
# each check.
mkdir -m 0700 -p "$work/runtime"
qgis_check() {  # KIND=URI...
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/runtime "$python" "$src/tests/qgis_styles_check.py" \
    "$work/shots" "$@" >"$work/qgis.txt" 2>"$work/qgis.err"
  local rc=$?
  cat "$work/qgis.txt"
  if [ $rc -gt 1 ] || ! grep -q "^checked $# outputs" "$work/qgis.txt"; then
    fail "QGIS stopped before the end of its checks (exit $rc)"
    sed 's/^/    /' "$work/qgis.err"
  fi
  failures=$((failures + $(grep -c '^FAIL: ' "$work/qgis.txt")))
}
qgis_check "${checks[@]}"

# Opened again with the table fetched later, the analysis in the GeoPackage
# is drawn in classes, and QGIS finds that style, not the one it replaced.
run 0 "" "$plexa" fetch-result --job "$job" --dbf "$work/later.dbf"
run 0 "areas found: [0-9]+" "$plexa" household --config "$work/geopackage.xml" --analyses "$work/geopackage" \
  --reopen "Young families later" --link "$work/later.dbf"
rows=$(ogrinfo -ro -q -sql "SELECT COUNT(*) AS n FROM layer_styles" "$(output_of)" 2>/dev/null | sed -n 's/^ *n (Integer[0-9]*) = //p')
[ "$rows" = 1 ] && echo "ok: the re-run's style replaced the old one" || fail "the GeoPackage holds $rows styles, not 1"
qgis_check "graduated=$(uri_of "$(output_of)")"
for t in high_sids_result young_families_result young_families_later_result; do
  n=$(sql "SELECT count(*) FROM public.layer_styles WHERE f_table_schema = '$schema' AND f_table_name = '$t' AND useAsDefault")
  [ "$n" = 1 ] && echo "ok: $t has one default style in the database" || fail "$t has $n default styles in the database, not 1"
done
sql "DROP SCHEMA IF EXISTS $schema CASCADE"
sql "DELETE FROM public.layer_styles WHERE f_table_schema = '$schema'"
finish
