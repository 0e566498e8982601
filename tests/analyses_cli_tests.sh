#!/bin/bash
# plexa analyses, the command-line twin of Open Analysis, on a copy of the
# NC counties: the list (empty, then two analyses, as text and as JSON),
# an analysis's report told as text and written as PDF and HTML, a re-run after the data changed, re-runs that
# fail and leave the old analysis whole, a re-run under a new name, the
# removal, and unknown names refused with the names there are.
#   analyses_cli_tests.sh PLEXA SOURCE_DIR WORKDIR
set -u
plexa=$1 src=$2 work=$3
rm -rf "$work"
mkdir -p "$work/data"
sample="$src/data/sample"
. "$(dirname "$0")/cli_support.sh"

cp "$sample"/nc.* "$work/data/"
cfg="$work/nc.xml"
sed "s|data=\"sample\"|data=\"$work/data\"|" "$src/data/nc.xml" >"$cfg"
analyses="$work/analyses"
a() { "$plexa" analyses "$1" --config "$cfg" --analyses "$analyses" "${@:2}"; }
count() {  # the features of a shapefile
  ogrinfo -ro -q -al "$1" | grep -c '^OGRFeature'
}
big_births() {  # counties of the copy with at least 5000 live births in 1974-78
  ogrinfo -ro -q -al "$work/data/nc.shp" -where "BIR74 >= 5000" | grep -c '^OGRFeature'
}

# ---- an empty folder: the header alone, an empty JSON list
run 0 "" a list
[ "$(cat "$work/out")" = "NAME  WAY  LEVEL  DATE  AREAS  COMMENT" ] || fail "an empty list is not the header alone: $(cat "$work/out")"
run 0 "" a list --json
python3 -m json.tool "$work/out" >/dev/null && [ "$(tr -d ' \n' <"$work/out")" = "[]" ] || fail "an empty JSON list: $(cat "$work/out")"

# ---- two analyses
run 0 "areas found: 18" "$plexa" demographic --config "$cfg" --analyses "$analyses" --level Counties \
  --dmq "$src/data/high-sids.dmq" --name "High SIDS" --comment "counties to visit first"
run 0 "areas found: $(big_births)" "$plexa" demographic --config "$cfg" --analyses "$analyses" --level Counties \
  --target "Live births>=5000" --name "Big births"
run 0 "" a list
[ "$(wc -l <"$work/out")" = 3 ] || fail "the list is not the header and two analyses: $(cat "$work/out")"
grep -qE '^Big births +Demographic +Counties +[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2} +16$' "$work/out" &&
  grep -qE '^High SIDS +Demographic +Counties +[0-9-]+ [0-9:]+ +18 +counties to visit first$' "$work/out" &&
  echo "ok: name, way, level, date, areas and comment listed" || fail "the list: $(cat "$work/out")"
run 0 "" a list --json
if python3 -m json.tool "$work/out" >/dev/null; then
  python3 - "$work/out" <<'PY' && echo "ok: the JSON list" || fail "the JSON list: $(cat "$work/out")"
import json, sys
rows = {r["name"]: r for r in json.load(open(sys.argv[1]))}
assert set(rows) == {"Big births", "High SIDS"}, rows
h = rows["High SIDS"]
assert (h["way"], h["level"], h["areas"], h["comment"]) == ("Demographic", "Counties", 18, "counties to visit first"), h
assert rows["Big births"]["areas"] == 16 and rows["Big births"]["comment"] == ""
PY
else
  fail "the JSON list does not parse: $(cat "$work/out")"
fi

# ---- shown as text: the report, what was asked and what was found
run 0 "Analysis: High SIDS" a show "High SIDS"
for want in "Way: Demographic data" "Level: Counties" "Year: 1974-78" "Comment: counties to visit first" \
            "Dataset: North Carolina" "You will be searching 1974-78 data for County areas" "Infant health is" \
            "      Sudden infant deaths, greater than or equal to 0.3%" "18 of 100 counties, holding "; do
  grep -qF -- "$want" "$work/out" || fail "show does not say \"$want\": $(cat "$work/out")"
done
# The areas found are those of the output, each with its name and counts.
[ "$(grep -cE '^37[0-9]{3} ' "$work/out")" = 18 ] || fail "show does not list the 18 areas found"
grep -qE '^37155 +Robeson +31 +7,889$' "$work/out" || fail "show has no row of Robeson: $(cat "$work/out")"
grep -q "$(date -r "$analyses/High_SIDS/AnalysisParams.dmq" '+%Y-%m-%d %H:%M')" "$work/out" ||
  fail "show is not dated when the analysis ran"
run 0 "Analysis: Big births" a show "high sids" "Big births"
grep -q "Analysis: High SIDS" "$work/out" || fail "show of two analyses left one out"
grep -qE '^16 of 100 counties' <(sed 's/^ *//' "$work/out") || fail "show of Big births does not sum up 16 counties"

# ---- the report as documents, written again from the analysis
run 0 "report: $work/high.pdf" a report "High SIDS" --pdf "$work/high.pdf" --html "$work/high.html"
pdftotext -layout "$work/high.pdf" "$work/high.txt"
for want in "Report of High SIDS" "Sudden infant deaths, greater than or equal to 0.3%" "counties to visit first"; do
  grep -qF -- "$want" "$work/high.txt" || fail "the PDF written again does not say \"$want\""
done
[ "$(grep -cE '^.?37[0-9]{3} ' "$work/high.txt")" = 18 ] || fail "the PDF written again has not 18 rows"
grep -q 'src="data:image/png;base64,' "$work/high.html" && grep -q "Robeson" "$work/high.html" ||
  fail "the HTML written again has no map or no table"
ls "$work"/*.pdf* | grep -qv '/high.pdf$' && fail "a scratch file is left beside the PDF: $(ls "$work")"
run 2 "give --pdf FILE, --html FILE or both" a report "High SIDS"
[ "$(wc -l <"$work/err")" = 1 ] || fail "a report without a file is not told in one line: $(cat "$work/err")"
cp "$work/high.pdf" "$work/kept.pdf"
run 1 "could not be written" a report "High SIDS" --pdf "$work/no-such-folder/high.pdf"
cmp -s "$work/high.pdf" "$work/kept.pdf" || fail "a failed report touched another"

# ---- unknown names: exit 2, naming those there are, nothing done
for cmd in show rerun remove; do
  run 2 'no analysis named "Nowhere" in .*; the analyses are "Big births", "High SIDS"' a $cmd "High SIDS" Nowhere
done
run 2 'no analysis named "Nowhere" in .*; the analyses are "Big births", "High SIDS"' a report Nowhere --pdf "$work/nowhere.pdf"
[ -e "$work/nowhere.pdf" ] && fail "a report of an unknown analysis wrote a file"
[ -d "$analyses/High_SIDS" ] || fail "a command with an unknown name removed the known one"
run 2 "" "$plexa" analyses
run 2 "name is required" a show

# ---- re-run after the data changed: the areas follow the data
ogrinfo -q "$work/data/nc.shp" -dialect SQLite -sql "UPDATE nc SET BIR74 = 100 WHERE FIPS = '37119'" >/dev/null
[ "$(big_births)" = 15 ] || fail "the data was not changed"
run 0 "areas found: 15" a rerun "Big births"
[ "$(count "$analyses/Big_births/Result.shp")" = 15 ] || fail "the re-run did not replace the output"
ogrinfo -ro -q -al "$analyses/Big_births/Result.shp" -where "FIPS = '37119'" | grep -q OGRFeature &&
  fail "the county whose births fell is still in the output"
run 0 "Big births +Demographic +Counties .* 15$" a list
[ "$(ls "$analyses")" = "$(printf 'Big_births\nHigh_SIDS')" ] || fail "the re-run left something beside the analyses: $(ls "$analyses")"

# ---- a re-run under a new name keeps the old analysis
ogrinfo -q "$work/data/nc.shp" -dialect SQLite -sql "UPDATE nc SET BIR74 = 100 WHERE FIPS = '37067'" >/dev/null
run 0 "areas found: 14" a rerun "Big births" --as "Big births later"
run 0 "Big births later +Demographic +Counties .* 14$" a list
grep -qE "^Big births +Demographic .* 15$" "$work/out" || fail "--as changed the analysis it was made from"
run 1 'exists already' a rerun "High SIDS" --as "Big births"
run 2 '--as names the copy of one analysis' a rerun "High SIDS" "Big births" --as Both

# ---- re-runs that fail leave the old analysis whole
whole() {  # FOLDER AREAS
  [ -f "$analyses/$1/analysis.xml" ] && [ ! -e "$analyses/$1/.incomplete" ] && [ "$(count "$analyses/$1/Result.shp")" = "$2" ] &&
    echo "ok: $1 is whole with $2 areas" || fail "$1 is not whole after a failed re-run"
}
ogrinfo -q "$work/data/nc.shp" -dialect SQLite -sql "UPDATE nc SET BIR74 = 100" >/dev/null
run 1 "" a rerun "Big births"
whole Big_births 15
grep -qi "no area\|not find\|found no" "$work/err" || fail "a re-run that found nothing does not say so: $(cat "$work/err")"
mv "$work/data/nc.shp" "$work/nc.shp.away"
run 1 "" a rerun "Big births"
whole Big_births 15
mv "$work/nc.shp.away" "$work/data/nc.shp"

# ---- household analyses: asked again of the service, or joined with --link
hhd_log="$work/hhd.log"
"$(dirname "$plexa")/plexa-hhd" --port 0 --job-seconds 0 >"$hhd_log" 2>&1 &
hhd=$!
trap 'kill $hhd 2>/dev/null' EXIT
for _ in 1 2 3 4 5 6 7 8 9 10; do grep -q listening "$hhd_log" && break; sleep 0.2; done
PLEXA_HOUSEHOLD_SERVICE=$(sed -n 's/^listening on //p' "$hhd_log" | head -1)
XDG_CONFIG_HOME="$work/config" PLEXA_REGISTRY="$work/config/registry.ini"
export PLEXA_HOUSEHOLD_SERVICE XDG_CONFIG_HOME PLEXA_REGISTRY
mkdir -p "$XDG_CONFIG_HOME"
run 0 "areas found: [0-9]+" env PLEXA_PASSWORD=demo "$plexa" household --config "$cfg" --analyses "$analyses" \
  --level Counties --hhq "$src/data/young-families.hhq" --name "Young families" --user demo
first=$(sed -n 's/^areas found: //p' "$work/out")
run 0 "Way: Household data" a show "Young families"
grep -q "households match the following criteria" "$work/out" || fail "show does not word the household criteria: $(cat "$work/out")"
[ "$(grep -cE '^[0-9.]+ - [0-9.]+ % ' "$work/out")" = 5 ] || fail "show does not give the five classes: $(cat "$work/out")"
# Each area found has its row, under the county's name.
[ "$(grep -cE '^37[0-9]{3} +[[:alpha:]][[:alpha:] .-]* +[0-9,]+ +[0-9,]+ +[0-9.]+$' "$work/out")" = "$first" ] ||
  fail "show does not list the $first areas found, each by name: $(cat "$work/out")"
run 0 "report: $work/young.html" a report "Young families" --html "$work/young.html"
grep -q "Age of householder is" "$work/young.html" && grep -q 'src="data:image/png;base64,' "$work/young.html" ||
  fail "the household HTML has no criteria or no map"
[ -e "$work/young.pdf" ] && fail "--html alone wrote a PDF"
run 0 "areas found: $first" a rerun "Young families"
run 0 "job id: HH" "$plexa" household --config "$cfg" --analyses "$analyses" --level Counties \
  --hhq "$src/data/young-families.hhq" --name "Young later" --no-wait
job=$(sed -n 's/^job id: \([A-Z0-9]*\).*/\1/p' "$work/out")
run 0 "" "$plexa" fetch-result --job "$job" --dbf "$work/later.dbf"
run 0 "areas found: [0-9]+" a rerun "Young later" --link "$work/later.dbf"
run 0 "Young later +Household +Counties .* [0-9]+$" a list
run 2 "--link is for household analyses" a rerun "High SIDS" --link "$work/later.dbf"
run 2 "--as cannot be used with --link" a rerun "Young later" --link "$work/later.dbf" --as Other
kill $hhd 2>/dev/null
run 0 "removed Young later" a remove "Young families" "Young later"

# ---- removal: the folder goes
run 0 "removed Big births later" a remove "Big births later"
[ -e "$analyses/Big_births_later" ] && fail "the removed analysis's folder is still there"
run 0 "" a list
grep -q "Big births later" "$work/out" && fail "the removed analysis is still listed"
run 0 "removed Big births" a remove "High SIDS" "big births"
grep -q "removed High SIDS" "$work/out" || fail "the first of two analyses was not removed"
run 0 "" a list
[ "$(cat "$work/out")" = "NAME  WAY  LEVEL  DATE  AREAS  COMMENT" ] || fail "analyses are left after removing them all: $(cat "$work/out")"

finish
