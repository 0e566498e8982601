#!/bin/bash
# The plexa program on data in a PostGIS database, against the server the
# tests start: the demographic way, the customer profile and a household
# run that links a table, all reading their layers from the database and
# writing their outputs there; the same answers as from the sample's files;
# and one clear line, a non-zero exit and nothing written for a server that
# is down, a wrong password, a missing table or one without shapes.
#   postgis_cli_tests.sh BUILD_DIR SOURCE_DIR WORKDIR PG_STATE
set -u
build=$1 src=$2 work=$3 state=$4
plexa=$build/plexa
. "$state/env" || { echo "FAIL: no PostGIS test server in $state"; exit 1; }
rm -rf "$work"
mkdir -p "$work"
. "$(dirname "$0")/cli_support.sh"
sql() { psql -X -q -A -t -v ON_ERROR_STOP=1 -c "$1"; }
expect() {  # WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok: $1"; else fail "$1: $3, not $2"; fi
}

# The NC sample as its own configuration shows it, with the counties in the
# database and the analyses written to the schema "cli_results".
schema=cli_results
sql "DROP SCHEMA IF EXISTS $schema CASCADE"
db="$work/nc-db.xml"
sed -e "s|<Dataset name=\"North Carolina\" data=\"sample\">|<Dataset name=\"North Carolina\" database=\"plexa\" host=\"$PGHOST\" schema=\"demo\">|" \
    -e "s|<Setting name=\"Data Format\" value=\"Shapefile\"/>|<Setting name=\"Data Format\" value=\"PostGIS\"/><Setting name=\"Output Schema\" value=\"$schema\"/>|" \
    "$src/data/nc.xml" >"$db"
grep -q 'value="PostGIS"' "$db" && grep -q 'database="plexa"' "$db" || fail "the configuration was not made from data/nc.xml"
files="$work/nc-files.xml"
sed "s|data=\"sample\"|data=\"$src/data/sample\"|" "$src/data/nc.xml" >"$files"
analyses="$work/analyses"

run 0 "no problems" "$plexa" check --config "$db"

# ---- the demographic way: the same 18 areas as from the shapefile, in a table
run 0 "areas found: 18" "$plexa" demographic --config "$db" --analyses "$analyses" --level Counties \
  --dmq "$src/data/high-sids.dmq" --name "High SIDS rate" --png "$work/high-sids.png"
expect "the output table holds the areas" 18 "$(sql "SELECT count(*) FROM $schema.high_sids_rate_result")"
expect "every area is a match" 18 "$(sql "SELECT count(*) FROM $schema.high_sids_rate_result WHERE \"Result\" = 'Match'")"
[ -s "$work/high-sids.png" ] && echo "ok: the map with the output drawn" || fail "no map of the output"
run 0 "areas found: 18" "$plexa" demographic --config "$files" --analyses "$work/file-analyses" --level Counties \
  --dmq "$src/data/high-sids.dmq" --name "High SIDS rate"
expect "the same areas as from the shapefile" \
  "$(ogr2ogr -f CSV /vsistdout/ "$work/file-analyses/High_SIDS_rate/Result.shp" -select FIPS | tail -n +2 | tr -d '"\r' | sort)" \
  "$(sql "SELECT fips FROM $schema.high_sids_rate_result ORDER BY 1")"

# A re-run replaces the table; one that fails (no area matches) leaves the
# old one whole.
run 0 "areas found: 16" "$plexa" demographic --config "$db" --analyses "$analyses" --level Counties \
  --target "Live births>=5000" --name "High SIDS rate" --overwrite
expect "the re-run replaced the table" 16 "$(sql "SELECT count(*) FROM $schema.high_sids_rate_result")"
run 1 "" "$plexa" demographic --config "$db" --analyses "$analyses" --level Counties \
  --target "Live births>=5000000" --name "High SIDS rate" --overwrite
expect "a failed re-run leaves the table as it was" 16 "$(sql "SELECT count(*) FROM $schema.high_sids_rate_result")"
expect "and no temporary table" "high_sids_rate_result" \
  "$(sql "SELECT string_agg(table_name, ',') FROM information_schema.tables WHERE table_schema = '$schema'")"

# ---- the customer profile of customers kept in the database
"$plexa" profile --config "$files" --customers "$src/data/sample/zipcodes.shp" --level Counties >"$work/profile-files.txt"
run 0 "customers read: 42555" "$plexa" profile --config "$db" --customers "PG:dbname=plexa host=$PGHOST|demo.zipcodes" \
  --level Counties
expect "the profile as from the files" "$(tail -n +2 "$work/profile-files.txt")" "$(tail -n +2 "$work/out")"

# ---- the household way, waiting, then linking the table fetched later
run 0 "job id: HH" \
  "$src/scripts/household-demo.sh" "$build" "$db" "$analyses"
grep -q "areas found" "$work/out" && tr '\n' ' ' <"$work/out" | grep -qE "job id: HH.*areas found: [0-9]+" &&
  echo "ok: the linked table was joined" || fail "the linked table was not joined"
grep -q "analysis folder: $analyses/" "$work/out" && ! grep -q "analysis folder: PG:" "$work/out" &&
  echo "ok: the analysis folder is named, not the database" || fail "the analysis folder is not named"
expect "both household outputs in the database" "young_families_later_result,young_families_result" \
  "$(sql "SELECT string_agg(table_name, ',' ORDER BY table_name) FROM information_schema.tables WHERE table_schema = '$schema' AND table_name LIKE 'young%'")"
[ "$(sql "SELECT count(*) FROM $schema.young_families_later_result WHERE \"PERCENT\" > 0")" -gt 0 ] &&
  echo "ok: the linked run wrote its shares" || fail "the linked run wrote no shares"

# ---- the reports of analyses in the database, as from the files: the
# database's lower-case fields still give each area its key, name and counts
run 0 "16 of 100 counties, holding [0-9.]+ % of live births" "$plexa" analyses show "High SIDS rate" --config "$db" \
  --analyses "$analyses"
expect "every area found has its name and births" 16 "$(grep -cE '^37[0-9]{3} +[[:alpha:]][[:alpha:] .-]* +[0-9,]+$' "$work/out")"
run 0 "report: $work/high.pdf" "$plexa" analyses report "High SIDS rate" --config "$db" --analyses "$analyses" \
  --pdf "$work/high.pdf"
expect "the PDF holds the areas found" 16 "$(pdftotext -layout "$work/high.pdf" - | grep -cE '^.?37[0-9]{3} +[[:alpha:]]')"
run 0 "Way: Household data" "$plexa" analyses show "Young families" --config "$db" --analyses "$analyses"
expect "the five classes of the household result" 5 "$(grep -cE '^[0-9.]+ - [0-9.]+ % ' "$work/out")"
grep -qE '^37[0-9]{3} +[[:alpha:]]+.* [0-9.]+$' "$work/out" && echo "ok: the household areas are named" ||
  fail "the household areas have no names: $(cat "$work/out")"

# ---- a dataset made from a table of the database
run 0 "configuration written" "$plexa" dataset init --out "$work/boston.xml" --name Boston \
  --level "Tracts=PG:dbname=plexa host=$PGHOST|demo.boston_tracts" --base units --force
run 0 "no problems" "$plexa" check --config "$work/boston.xml"
run 0 "areas found: 74" "$plexa" demographic --config "$work/boston.xml" --level Tracts --name "Low status" \
  --target "LSTAT>=20" --analyses "$work/boston-analyses"

# ---- plexa analyses on outputs in the database: listed with their areas,
# run again into the same table, removed with their tables
run 0 "High SIDS rate +Demographic +Counties .* 16$" "$plexa" analyses list --config "$db" --analyses "$analyses"
run 0 "areas found: 16" "$plexa" analyses rerun "High SIDS rate" --config "$db" --analyses "$analyses"
expect "the re-run wrote the table again and left no copy" "high_sids_rate_result:16" \
  "$(sql "SELECT string_agg(table_name, ',') FROM information_schema.tables WHERE table_schema = '$schema' AND table_name LIKE 'high%'"):$(sql "SELECT count(*) FROM $schema.high_sids_rate_result")"
run 0 "removed High SIDS rate" "$plexa" analyses remove "High SIDS rate" --config "$db" --analyses "$analyses"
expect "the removed analysis's table is gone" "" \
  "$(sql "SELECT string_agg(table_name, ',') FROM information_schema.tables WHERE table_schema = '$schema' AND table_name LIKE 'high%'")"
[ -e "$analyses/High_SIDS_rate" ] && fail "the removed analysis's folder is still there"

# ---- bad input: one line, a non-zero exit, nothing written
bad() {  # NAME PATTERN [ENV...] -- runs the demographic way with the configuration NAME
  local name=$1 pattern=$2
  shift 2
  local before
  before=$(sql "SELECT count(*) FROM information_schema.tables WHERE table_schema = '$schema'")
  run 1 "$pattern" env "$@" "$plexa" demographic --config "$work/$name.xml" --analyses "$work/bad-$name" \
    --level Counties --dmq "$src/data/high-sids.dmq" --name "Bad $name"
  [ "$(wc -l <"$work/err")" -le 2 ] || fail "$name: more than the message and its summary: $(cat "$work/err")"
  [ ! -e "$work/bad-$name/Bad_$name" ] || fail "$name: an analysis was left"
  expect "$name: no table was written" "$before" \
    "$(sql "SELECT count(*) FROM information_schema.tables WHERE table_schema = '$schema'")"
}
sed "s|host=\"$PGHOST\"|host=\"$work/no-server\"|" "$db" >"$work/down.xml"
bad down "Cannot connect to the database \"plexa\" on $work/no-server.*No such file"
cp "$db" "$work/password.xml"
bad password "password authentication failed for user \"analyst\"" PGPASSFILE=/dev/null PGPASSWORD=wrong
sed 's|dataset="nc"|dataset="nc_gone"|' "$db" >"$work/missing.xml"
bad missing "No table nc_gone in the database \"plexa\""
sed 's|dataset="nc"|dataset="notes"|' "$db" >"$work/nogeometry.xml"
bad nogeometry "The table notes in the database \"plexa\".* has no geometry column"
sed "s|database=\"plexa\" host=\"$PGHOST\" schema=\"demo\"|data=\"PG:dbname=plexa password=s3cret\"|" "$db" >"$work/inline.xml"
bad inline "may not hold a password: libpq reads it from ~/.pgpass or PGPASSWORD"
grep -q s3cret "$work/err" && fail "the password was shown"

finish
