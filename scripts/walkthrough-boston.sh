#!/bin/bash
# Runs the Boston walkthrough of docs/own-data.md for real and checks what
# plexa answers against GDAL's own tools:
#   - the areas of each demographic run against ogrinfo/ogr2ogr -where with
#     the where-clause written by hand from the targets (counts and the very
#     tracts), also after a round trip through a query file;
#   - the customer profile of the ZIP-code centres against a point-in-polygon
#     join done by ogr2ogr -dialect SQLite (ST_Intersects), averaged here.
#
#   walkthrough-boston.sh PLEXA_BINARY SOURCE_DIR [WORKDIR]
#
# WORKDIR is emptied first; without it a temporary folder is used and
# removed at the end. Needs the sample data (scripts/fetch-sample.sh),
# ogrinfo, ogr2ogr (with SpatiaLite) and python3. Exits non-zero with a
# message on the first mismatch.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 PLEXA_BINARY SOURCE_DIR [WORKDIR]" >&2
  exit 2
fi
plexa=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
src=$(cd "$2" && pwd)
if [ $# -ge 3 ]; then
  work=$3
  rm -rf "$work"
  mkdir -p "$work"
  work=$(cd "$work" && pwd)
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

tracts=$src/data/sample/boston_tracts.shp
zips=$src/data/sample/zipcodes.shp
config=$work/boston.xml
analyses=$work/analyses
# plexa's error log stays with this run.
export PLEXA_LOG=$work/plexa.log
# Numbers are read and written with a decimal point.
export LC_ALL=C LANG=C
unset LC_NUMERIC PLEXA_LOCALE

fail() {
  echo "MISMATCH: $*" >&2
  exit 1
}
ok() { echo "ok: $*"; }
step() {
  echo
  echo "== $*"
}

for tool in ogrinfo ogr2ogr python3; do
  command -v "$tool" >/dev/null || fail "$tool is needed and not on the PATH"
done
[ -x "$plexa" ] || fail "$plexa is not a program"
[ -f "$tracts" ] && [ -f "$zips" ] || fail "no sample data in $src/data/sample: run scripts/fetch-sample.sh first"

# px EXPECTED_EXIT ARGS...: runs plexa, shows the command and what it printed
# (in $work/out), and fails unless it exits as expected.
px() {
  local want=$1
  shift
  printf '$ plexa'
  printf ' %q' "$@"
  echo
  local rc=0
  "$plexa" "$@" >"$work/out" 2>"$work/err" || rc=$?
  sed 's/^/    /' "$work/out" "$work/err"
  [ "$rc" = "$want" ] || fail "plexa $1 exited with $rc, not $want"
}

# The number of tracts a hand-written where-clause selects.
count_where() {
  ogrinfo -ro -al -so -where "$1" "$tracts" | sed -n 's/^Feature Count: //p'
}
# The tracts (poltract, sorted) a where-clause selects, and those of a result.
tracts_where() {
  ogr2ogr -f CSV /vsistdout/ "$tracts" -where "$1" -select poltract | tail -n +2 | tr -d '"' | sort
}
tracts_of() {
  ogr2ogr -f CSV /vsistdout/ "$1" -select poltract | tail -n +2 | tr -d '"' | sort
}

# demographic_run NAME WHERE ARGS...: runs the demographic way and compares its
# areas with the tracts WHERE selects.
demographic_run() {
  local name=$1 where=$2
  shift 2
  px 0 demographic --config "$config" --analyses "$analyses" --level Tracts --name "$name" "$@"
  local found output expected
  found=$(sed -n 's/^areas found: //p' "$work/out")
  output=$(sed -n 's/^output: //p' "$work/out")
  expected=$(count_where "$where")
  [ -n "$found" ] && [ -f "$output" ] || fail "\"$name\": no areas found or no result layer"
  [ "$found" = "$expected" ] || fail "\"$name\": plexa found $found tracts, ogrinfo -where \"$where\" finds $expected"
  tracts_of "$output" >"$work/plexa.txt"
  tracts_where "$where" >"$work/ogr.txt"
  if ! diff -q "$work/plexa.txt" "$work/ogr.txt" >/dev/null; then
    diff "$work/plexa.txt" "$work/ogr.txt" | sed 's/^/    /' >&2 || true
    fail "\"$name\": the tracts differ from those of -where \"$where\" (< plexa, > ogr2ogr)"
  fi
  ok "\"$name\": $found tracts, the same as ogrinfo -where \"$where\""
  last_output=$output
}

step "a configuration for the tracts"
px 0 dataset init --out "$config" --name Boston --level "Tracts=$tracts" --base units
# The housing units by value class are counts of units; the statistics and
# shares of the layer are not, so only the former may be percentages.
python3 - "$config" <<'PY'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
layer = root.find("Dataset/Layer")
assert layer.get("idField") == "poltract", "the key field is %s, not poltract" % layer.get("idField")
assert layer.get("descField") == "TOWN", "the name field is %s, not TOWN" % layer.get("descField")
targets = {t.get("name"): t for t in root.iter("Target")}
classes = ["cu5k", "c5_7_5", "C7_5_10", "C10_15", "C15_20", "C20_25", "C25_35", "C35_50", "co50k"]
for name in classes:
    t = targets.get(name)
    assert t is not None, "no target " + name
    assert t.get("CanPercent") == "True", name + " may not be a percentage"
    assert t.find("Field").get("percent") == "units", name + " is not measured against units"
shares = ["CRIM", "ZN", "INDUS", "NOX", "RM", "AGE", "LSTAT", "MEDV", "median", "units"]
for name in shares:
    assert targets[name].get("CanPercent") == "False", name + " is offered as a percentage of units"
print("ok: the 9 value classes may be percentages of units; CRIM, ZN, INDUS, NOX, RM, AGE, LSTAT, MEDV, median, units may not")
PY

step "captions edited by hand"
sed -i -e 's/caption="co50k"/caption="Worth 50k or more"/' \
       -e 's/caption="MEDV"/caption="Median value (1000s)"/' \
       -e 's/id="Counts 2" caption="Counts 2"/id="Counts 2" caption="Dear homes"/' "$config"
grep -q 'caption="Worth 50k or more"' "$config" || fail "the caption of co50k was not found to edit"
px 0 check --config "$config"
grep -q "no problems" "$work/out" || fail "plexa check did not say \"no problems\""
ok "plexa check: no problems"
px 0 levels --config "$config"
grep -q "^  Tracts  \[demographic, layer Tracts\]" "$work/out" || fail "plexa levels does not list the level Tracts"
ok "plexa levels lists the level Tracts"

step "demographic runs"
# A share of the units (percentage) and a plain number; targets by caption.
demographic_run "Dear homes" "co50k * 100 >= 20 * units AND MEDV >= 25" \
  --percentages --target "Worth 50k or more>=20" --target "Median value (1000s)>=25"
dear=$last_output
# Numbers only: a range and a ceiling.
demographic_run "Mid-priced" "C35_50 >= 100 AND C35_50 <= 400 AND LSTAT <= 10" \
  --target "C35_50=100..400" --target "LSTAT<=10"
# Any one target: a percentage or a number.
demographic_run "Cheap or high crime" "cu5k * 100 >= 10 * units OR CRIM >= 10" \
  --any --percentages --target "cu5k>=10" --target "CRIM>=10"

step "the query kept in a file and run again"
px 0 demographic --config "$config" --level Tracts --percentages \
  --target "Worth 50k or more>=20" --target "Median value (1000s)>=25" --save-dmq "$work/dear.dmq"
python3 - "$work/dear.dmq" <<'PY'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
common = {p.get("name"): p.get("value") for p in root.iter("COMMONPROPERTY")}
want = {"StudyAreaDataset": "Boston", "Year": "1", "NumbersOption": "False", "AllCharacteristics": "True"}
assert common == want, "common properties %s, not %s" % (common, want)
set_values = {}
for c in root.iter("CATEGORY"):
    for t in c.iter("TARGET"):
        for p in t.iter("PROPERTY"):
            if p.get("value"):
                set_values[(c.get("id"), t.get("id"), p.get("name"))] = p.get("value")
want = {("Counts 2", "co50k", "Floor"): "20", ("Other values", "MEDV", "Floor"): "25"}
assert set_values == want, "the file sets %s, not %s" % (set_values, want)
print("ok: the file holds Floor 20 for Counts 2/co50k and Floor 25 for Other values/MEDV, as percentages, all targets")
PY
demographic_run "Dear homes from the file" "co50k * 100 >= 20 * units AND MEDV >= 25" --dmq "$work/dear.dmq"
tracts_of "$dear" >"$work/first.txt"
tracts_of "$last_output" >"$work/again.txt"
diff -q "$work/first.txt" "$work/again.txt" >/dev/null || fail "the query file gives other tracts than the targets it was saved from"
ok "the query file gives the same tracts as the run it was saved from"

step "customer profile of the ZIP-code centres"
px 0 profile --config "$config" --customers "$zips" --level Tracts
cp "$work/out" "$work/profile.txt"
# The join: the points into the tracts' coordinate system by ogr2ogr, those
# near the tracts kept (a box 0.1 degree wider than the tracts' extent), then
# every (customer, tract) pair where the point lies in or on the tract.
extent=$(ogrinfo -ro -al -so "$tracts" | sed -n 's/^Extent: (\(.*\), \(.*\)) - (\(.*\), \(.*\))$/\1 \2 \3 \4/p')
read -r xmin ymin xmax ymax <<<"$extent"
box=$(python3 -c "print($xmin - 0.1, $ymin - 0.1, $xmax + 0.1, $ymax + 0.1)")
mkdir -p "$work/join"
ogr2ogr -t_srs EPSG:4267 -spat $box -nln customers "$work/join/customers.shp" "$zips"
for ext in shp shx dbf prj; do cp "${tracts%.shp}.$ext" "$work/join/"; done
ogr2ogr -f CSV "$work/join.csv" "$work/join" -dialect SQLite \
  -sql "SELECT c.ROWID AS customer_id, t.* FROM customers c JOIN boston_tracts t ON ST_Intersects(t.GEOMETRY, c.GEOMETRY)"
read_count=$(ogrinfo -ro -al -so "$zips" | sed -n 's/^Feature Count: //p')
python3 - "$config" "$work/join.csv" "$work/profile.txt" "$read_count" <<'PY'
import csv, re, sys, xml.etree.ElementTree as ET
config, join, printed_file, read_count = sys.argv[1:]
rows = list(csv.DictReader(open(join)))
problems = []

printed = {}
read = inside = None
for line in open(printed_file):
    m = re.match(r"^customers read: (\d+), inside an area: (\d+), outside every area: (\d+)$", line.strip())
    if m:
        read, inside = int(m.group(1)), int(m.group(2))
    m = re.match(r"^  (.+?) / (.+?): (.*?)\s*$", line)
    if m:
        printed[(m.group(1), m.group(2))] = m.group(3)
customers = len({r["customer_id"] for r in rows})
if read != int(read_count):
    problems.append("customers read: plexa %s, the layer holds %s" % (read, read_count))
if inside != customers:
    problems.append("customers inside a tract: plexa %s, the join %s" % (inside, customers))
else:
    print("ok: customers read %d; inside a tract: %d, as in the join (%d customer-tract pairs)" % (read, inside, len(rows)))

def number(text):
    return float(text) if text.strip() != "" else None

# The average over the customers inside a tract, each counting once in every
# tract it lies in or on. A tract without a value (or a share over a base
# that is empty or 0) leaves the target without an average.
targets = 0
for cat in ET.parse(config).getroot().iter("Category"):
    for t in cat.iter("Target"):
        targets += 1
        key = (cat.get("id"), t.get("name"))
        field = [f for f in t.iter("Field") if f.get("year", "1") == "1"][0]
        share = t.get("CanPercent") == "True"
        num, base = field.get("number"), field.get("percent")
        total = weight = 0.0
        failed = set()
        for r in rows:
            x = number(r[num])
            if x is None:
                failed.add(r["poltract"])
                continue
            if share and x > 0:
                b = number(r[base])
                if b is None or b == 0:
                    failed.add(r["poltract"])
                    continue
                total += x / b * 100
            elif not share:
                total += x
            weight += 1
        shown = printed.get(key)
        label = "%s/%s" % key
        if shown is None:
            problems.append(label + ": not in plexa's profile")
            continue
        if failed:
            m = re.search(r" and (\d+) other areas?$", shown)
            areas = 1 + (int(m.group(1)) if m else 0)
            if not shown.startswith("not profiled:") or areas != len(failed):
                problems.append("%s: plexa says \"%s\"; %d tracts with customers have no value"
                                % (label, shown, len(failed)))
            else:
                print("ok: %s: not profiled, %d tracts with customers have no value (%s)" % (label, areas, shown))
            continue
        expected = round(total / weight * 10) / 10 if weight else 0.0
        m = re.match(r"^(-?[0-9.]+)( % chance)?$", shown)
        if not m:
            problems.append("%s: plexa says \"%s\", the join gives %.1f" % (label, shown, expected))
            continue
        value, chance = float(m.group(1)), bool(m.group(2))
        if abs(value - expected) > 0.1 + 1e-9 or chance != share:
            problems.append("%s: plexa %s%s, the join %.1f%s" % (label, m.group(1), " % chance" if chance else "",
                                                                 expected, " % chance" if share else ""))
        else:
            print("ok: %s: %s%s (join: %.1f)" % (label, m.group(1), " % chance" if share else "", expected))
if targets != len(printed):
    problems.append("plexa profiled %d targets, the configuration has %d" % (len(printed), targets))
for p in problems:
    print("MISMATCH: " + p, file=sys.stderr)
sys.exit(1 if problems else 0)
PY

step "mistakes on the command line"
px 2 demographic --config "$config" --level Tracts --target "Worth 50k>=20" --name x
grep -q 'has no target "Worth 50k"' "$work/err" || fail "an unknown target is not named in the message"
ok "an unknown target: exit 2, named"
px 1 dataset init --out "$work/points.xml" --name Points --level "ZIP codes=$zips"
grep -q "holds points, not polygons" "$work/err" || fail "a point layer as a level is not refused as such"
ok "a point layer as a level: exit 1, refused"

echo
echo "walkthrough checked: every answer agrees with GDAL's"
