#!/bin/bash
# Each way of plexa over the same 100 NC counties in the forms an analyst's
# layers come in: every combination of a coordinate system (the sample's
# NAD27 degrees, UTM zone 17N in metres, the NC State Plane in US feet), a
# format and the locale plexa runs under. Each cell is compared with an
# answer made without plexa:
#   demographic        the areas ogrinfo -where selects in the source
#   profile            the averages of a SpatiaLite join of the customers
#                      with the areas (ogr2ogr -dialect SQLite), printed and
#                      in the profile table
#   household-linked   the areas of a run without waiting, then a table
#                      linked to it: the SpatiaLite join of that table
#                      with the areas
#   household-service  the keys and counts of the run on the geographic
#                      shapefile under the C locale
# and every output layer, read through its own coordinate system, must lie
# where the areas lie, each area where its source lies.
#
#   matrix.sh BUILD_DIR SOURCE_DIR WORKDIR LOCALE FORMAT...
# FORMAT: shapefile, geopackage, flatgeobuf or postgis (the server of the
# tests, read from PXCP_PG_STATE). Prints one line per cell, "ok: …" or
# "FAIL: …: why", then "all checks passed" or the number that failed.
set -u
build=$1 src=$2 work=$3 loc=$4
shift 4
formats=("$@")
srs_list=(4267 26917 2264)
ways=(demographic profile household-linked household-service)
plexa=$build/plexa
sample=$src/data/sample
here=$(cd "$(dirname "$0")" && pwd)
# Our own tools (sort, join, awk, the references) always in the C locale;
# only plexa runs under the locale of the matrix.
export LC_ALL=C
unset LANG LANGUAGE LC_NUMERIC
rm -rf "$work"
mkdir -p "$work"
data=$work/data ref=$work/ref
. "$here/../cli_support.sh"
. "$here/forms.sh"
. "$here/checks.sh"

[ "$loc" = C ] || [ "$(LC_ALL=$loc locale charmap 2>/dev/null)" = UTF-8 ] ||
  { fail "the locale $loc is not installed (locale-gen $loc)"; finish; }
dec=$(LC_ALL=$loc locale decimal_point)
tag=$(echo "$loc" | sed 's/[._].*//' | tr 'A-Z' 'a-z')

make_forms "${srs_list[@]}" && make_references "${srs_list[@]}" || { fail "the forms of the areas could not be made"; finish; }
schema=matrix_$tag
for format in "${formats[@]}"; do
  [ "$format" = postgis ] || continue
  . "${PXCP_PG_STATE:-/nonexistent}/env" 2>/dev/null || { fail "no PostGIS test server in PXCP_PG_STATE"; finish; }
  load_postgis "$schema" "${srs_list[@]}" || { fail "the areas could not be loaded into PostGIS"; finish; }
done

# The household-data service of these runs, and a login of their own.
"$build/plexa-hhd" --port 0 --job-seconds 0 >"$work/hhd.log" 2>&1 &
hhd_pid=$!
trap 'kill $hhd_pid 2>/dev/null' EXIT
for _ in $(seq 50); do grep -q listening "$work/hhd.log" && break; sleep 0.1; done
PLEXA_HOUSEHOLD_SERVICE=$(sed -n 's/^listening on //p' "$work/hhd.log" | head -1)
XDG_CONFIG_HOME=$work/config PLEXA_REGISTRY=$work/config/registry.ini PLEXA_LOG=$work/plexa.log
export PLEXA_HOUSEHOLD_SERVICE XDG_CONFIG_HOME PLEXA_REGISTRY PLEXA_LOG
[ -n "$PLEXA_HOUSEHOLD_SERVICE" ] || { fail "the household-data service did not start: $(cat "$work/hhd.log")"; finish; }

# ---- one cell's configuration: the sample's, its layer in this form
layer_source() {  # SRS FORMAT: the areas, and the customers ($customers)
  case $2 in
  shapefile) echo "$data/$1/nc.shp"; customers=$data/$1/cust.shp ;;
  geopackage) echo "$data/$1/nc.gpkg|nc"; customers="$data/$1/nc.gpkg|customers" ;;
  flatgeobuf) echo "$data/$1/nc.fgb"; customers=$data/$1/cust.fgb ;;
  postgis) echo "PG:dbname=$PGDATABASE host=$PGHOST|$schema.nc_$1"; customers="PG:dbname=$PGDATABASE host=$PGHOST|$schema.cust_$1" ;;
  esac
}

make_config() {  # SRS FORMAT FILE
  local dataset="" layer output
  case $2 in
  postgis)
    dataset=" database=\"$PGDATABASE\" host=\"$PGHOST\" schema=\"$schema\""
    layer="dataset=\"nc_$1\""
    output="PostGIS\"/><Setting name=\"Output Schema\" value=\"${schema}_out" ;;
  *)
    layer="source=\"$(layer_source "$1" "$2")\""
    output=Shapefile
    [ "$2" = geopackage ] && output="Personal Geodatabase" ;;
  esac
  sed -e "s#<Dataset name=\"North Carolina\" data=\"sample\">#<Dataset name=\"North Carolina\"$dataset>#" \
      -e "s#dataset=\"nc\"#$layer#" \
      -e "s#<Setting name=\"Data Format\" value=\"Shapefile\"/>#<Setting name=\"Data Format\" value=\"$output\"/>#" \
      "$src/data/nc.xml" >"$3"
  grep -qF "$layer" "$3" && ! grep -q 'data="sample"' "$3"
}

# ---- running plexa in a cell
plexa_in_cell() {  # STEP ARGS...: plexa under the locale; its output in $cell/STEP.out
  local step=$1 rc
  shift
  env LC_ALL="$loc" "$plexa" "$@" >"$cell/$step.out" 2>"$cell/$step.err"
  rc=$?
  [ $rc = 0 ] || reason "$step: exit $rc: $(head -1 "$cell/$step.err")"
  return $rc
}

output_of() {  # STEP: the output layer the run names
  sed -n 's/^output: //p' "$cell/$1.out" | head -1
}

# ---- the ways
# Floors typed as the analyst of the locale types them.
criteria=(--target "Sudden infant deaths>=0${dec}2" --target "Non-white births>=30"
          --target "Live births=1000${dec}5..20000" --percentages --year 2)
criteria_where="SID79 >= 0.002 * BIR79 AND NWBIR79 >= 0.3 * BIR79 AND BIR79 >= 1000.5 AND BIR79 <= 20000"

expected_demographic() {  # SRS FORMAT
  local s
  s=$(layer_source "$1" "$2")
  layer_args "$s"
  [ ${#layer[@]} = 2 ] || layer+=(-al)
  ogrinfo -ro -q "${layer[@]}" -where "$criteria_where" | sed -n 's/^ *[Ff][Ii][Pp][Ss] (String) = //p' | sort
}

way_demographic() {  # SRS FORMAT
  plexa_in_cell demographic demographic --config "$config" --analyses "$cell/analyses" --level Counties \
    "${criteria[@]}" --name "Demographic $1 $2 $tag" || return
  local out
  out=$(output_of demographic)
  same_keys "areas" "$(expected_demographic "$1" "$2")" "$(output_keys "$out" FIPS)"
  check_place "output" "$out" FIPS
}

# A printed profile value into $value: the locale's decimal separator and
# no other.
printed_value() {  # CAPTION
  value=$(sed -n "s|^  [^/]* / $1: \([0-9.,]*\).*|\1|p" "$cell/profile.out")
  case $dec$value in
  ,*.*) reason "$1 printed as $value, with a point under $loc" ;;
  .*,*) reason "$1 printed as $value, with a comma under $loc" ;;
  esac
  value=$(echo "$value" | tr ',' '.')
}

way_profile() {  # SRS FORMAT
  local inside births sid nwbir
  layer_source "$1" "$2" >/dev/null
  plexa_in_cell profile profile --config "$config" --level Counties --customers "$customers" --year 2 \
    --dbf "$cell/profile.dbf" || return
  IFS=, read -r inside births sid nwbir <"$ref/profile-$1"
  grep -q "inside an area: $inside," "$cell/profile.out" ||
    reason "$(grep -o 'inside an area: [0-9]*' "$cell/profile.out" || echo 'no count of customers inside'), not $inside"
  # Values are rounded to at least one decimal.
  printed_value "Live births" && near "Live births" "$births" "$value" 0.051
  printed_value "Sudden infant deaths" && near "Sudden infant deaths" "$sid" "$value" 0.051
  printed_value "Non-white births" && near "Non-white births" "$nwbir" "$value" 0.051
  local table
  table=$(ogr2ogr -f CSV /vsistdout/ "$cell/profile.dbf" -select Field,AvgVal 2>/dev/null | tr -d '"\r')
  near "the table's Live births" "$births" "$(echo "$table" | sed -n 's/^Live births,//p')" 0.051
  near "the table's Sudden infant deaths" "$sid" "$(echo "$table" | sed -n 's/^Sudden infant deaths,//p')" 0.051
  near "the table's Non-white births" "$nwbir" "$(echo "$table" | sed -n 's/^Non-white births,//p')" 0.051
}

household() {  # STEP NAME ARGS...: the household way, logged in as the demo account
  local step=$1 name=$2
  shift 2
  PLEXA_PASSWORD=demo plexa_in_cell "$step" household --config "$config" --analyses "$cell/analyses" \
    --level Counties --hhq "$src/data/young-families.hhq" --user demo --name "$name" "$@"
}

way_household-linked() {  # SRS FORMAT
  local name="Linked $1 $2 $tag" out
  household pending "$name" --no-wait || return
  out=$(output_of pending)
  same_keys "without waiting, areas" "$(cat "$ref/keys")" "$(output_keys "$out" KEY)"
  check_place "without waiting, output" "$out" KEY
  cp "$data/linked.dbf" "$cell/linked.dbf"
  plexa_in_cell linked household --config "$config" --analyses "$cell/analyses" --reopen "$name" \
    --link "$cell/linked.dbf" || return
  out=$(output_of linked)
  same_rows "linked, rows" "$(cat "$ref/linked-$1")" "$(household_rows "$out")"
  check_place "linked, output" "$out" KEY
}

way_household-service() {  # SRS FORMAT
  household service "Service $1 $2 $tag" || return
  local out
  out=$(output_of service)
  if [ -s "$ref/service" ]; then
    same_rows "rows" "$(cat "$ref/service")" "$(household_rows "$out")"
  else
    reason "no reference: the run on the geographic shapefile under C failed"
  fi
  check_place "output" "$out" KEY
}

# ---- the cells
run_cell() {  # WAY SRS FORMAT
  local way=$1 srs=$2 format=$3 label
  label="$way EPSG:$srs $format $loc"
  cell=$work/cells/$way-$srs-$format
  mkdir -p "$cell"
  reasons=()
  config=$cell/nc.xml
  if make_config "$srs" "$format" "$config"; then
    "way_$way" "$srs" "$format"
  else
    reason "the configuration could not be made from data/nc.xml"
  fi
  if [ ${#reasons[@]} = 0 ]; then
    echo "ok: $label"
  else
    local why r
    why=${reasons[0]}
    for r in "${reasons[@]:1}"; do why+="; $r"; done
    fail "$label: $why"
  fi
}

# The reference of the service's counts: the geographic shapefile under C,
# whose counts must be the service's own (a share above the query's
# minimum of 20 %, TOTAL * 100 / TOTREAD).
reference_service() {
  local saved=$loc
  loc=C cell=$work/reference reasons=()
  mkdir -p "$cell"
  config=$cell/nc.xml
  make_config 4267 shapefile "$config" && household service "Reference" &&
    household_rows "$(output_of service)" >"$ref/service"
  loc=$saved
  awk -F, 'NF != 4 || $4 <= 20 || ($4 - $3 * 100 / $2) ^ 2 > 0.0001 { bad = 1 } END { exit bad || NR == 0 }' \
    "$ref/service" 2>/dev/null || { echo "the reference run of the service is not usable: ${reasons[*]}"; : >"$ref/service"; }
}
reference_service

echo "cells: ${ways[*]} x EPSG:${srs_list[*]} x ${formats[*]} under $loc"
for format in "${formats[@]}"; do
  for srs in "${srs_list[@]}"; do
    for way in "${ways[@]}"; do
      run_cell "$way" "$srs" "$format"
    done
  done
done
finish
