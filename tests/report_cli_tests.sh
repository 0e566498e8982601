#!/bin/bash
# The report an analysis leaves as a reader gets it: Report.pdf read back
# with pdftotext (criteria, summary numbers against ogrinfo's own sums, the
# table's rows, a long table continued on the next page under its header)
# and Report.html opened in headless Chromium, whose screenshot must show
# the map; and the customer profile an analysis holds, in its report
# written again. Pictures of every page are left in WORKDIR/pages to look at.
#   report_cli_tests.sh PLEXA SOURCE_DIR WORKDIR
set -u
plexa=$1 src=$2 work=$3
rm -rf "$work"
mkdir -p "$work/pages"
sample="$src/data/sample"
. "$(dirname "$0")/cli_support.sh"
export LANG=en_US.UTF-8 LC_ALL= LC_PAPER= PLEXA_LOCALE=

cfg="$work/nc.xml"
sed "s|data=\"sample\"|data=\"$sample\"|" "$src/data/nc.xml" >"$cfg"
analyses="$work/analyses"

# The sum of a field over the counties whose FIPS are listed (or all).
sum_of() {  # FIELD [WHERE]
  ogrinfo -q -ro -sql "SELECT SUM($1) AS s FROM nc${2:+ WHERE $2}" "$sample/nc.shp" |
    sed -n 's/^ *s ([A-Za-z0-9]*) = //p' | head -1
}
# A whole number grouped by thousands: 329,962 (or 329.962 with SEPARATOR .).
grouped() {  # NUMBER [SEPARATOR]
  awk -v n="$1" -v sep="${2:-,}" 'BEGIN { s = sprintf("%.0f", n); out = "";
    while (length(s) > 3) { out = sep substr(s, length(s) - 2) out; s = substr(s, 1, length(s) - 3) } print s out }'
}
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f %%", 100 * a / b }'; }

# ---- demographic: the high-SIDS counties of 1974-78
run 0 'areas found: 18' "$plexa" demographic --config "$cfg" --analyses "$analyses" --level Counties \
  --dmq "$src/data/high-sids.dmq" --name "High SIDS"
dir="$analyses/High_SIDS"
for f in Report.txt Report.csv Report.pdf Report.html; do [ -s "$dir/$f" ] || fail "no $f"; done
pdftotext -layout "$dir/Report.pdf" "$work/high.txt"
grep -q 'Report of High SIDS' "$work/high.txt" || fail "the PDF has no title"
grep -q 'Sudden infant deaths, greater than or equal to 0.3%' "$work/high.txt" || fail "the PDF has no criteria"
fips=$(cut -d, -f3 "$dir/Report.csv" | tail -n +2 | sed "s/.*/'&'/" | paste -sd, -)
found=$(sum_of SID74 "FIPS IN ($fips)") all=$(sum_of SID74)
bfound=$(sum_of BIR74 "FIPS IN ($fips)") ball=$(sum_of BIR74)
want="18 of 100 counties, holding $(percent "$found" "$all") of sudden infant deaths and $(percent "$bfound" "$ball") of live"
tr -s ' \n' ' ' <"$work/high.txt" | grep -qF "$want" || fail "no summary \"$want\" in the PDF"
grep -qE "Live births +$(grouped "$bfound") +$(grouped "$ball") " "$work/high.txt" ||
  fail "the totals of live births are not $(grouped "$bfound") of $(grouped "$ball")"
grep -qE '^37155 +Robeson +31 +7,889$' "$work/high.txt" || fail "no row of Robeson in the table"
[ "$(grep -cE '^.?37[0-9]{3} ' "$work/high.txt")" = 18 ] || fail "the table has not 18 rows"
pdftoppm -png -r 50 "$dir/Report.pdf" "$work/pages/high"

# ---- the customer profile the analysis was made with: its table in the
# report written again, as PDF and as text
target() {  # ID VALUE CHANCE
  printf '\t\t\t\t<TARGET id="%s" Caption="%s"><PROPERTIES>\n' "$1" "$1"
  printf '\t\t\t\t\t<PROPERTY name="Extracted" value="1" /><PROPERTY name="Checked" value="1" />\n'
  printf '\t\t\t\t\t<PROPERTY name="Value" value="%s" /><PROPERTY name="Chance" value="%s" />\n' "$2" "$3"
  printf '\t\t\t\t</PROPERTIES></TARGET>\n'
}
category() {  # ID TARGET VALUE CHANCE
  printf '\t\t<CATEGORY id="%s" Caption="%s"><TARGETS>\n' "$1" "$1"
  target "$2" "$3" "$4"
  printf '\t\t</TARGETS></CATEGORY>\n'
}
{
  printf "<?xml version='1.0' encoding='utf-8'?>\n<CPCPFFILE>\n\t<COMMONPROPERTIES>\n"
  printf '\t\t<COMMONPROPERTY name="CPSubTaskType" value="NC Counties" />\n'
  printf '\t\t<COMMONPROPERTY name="header1" value="Study area: all of NC" />\n'
  printf '\t</COMMONPROPERTIES>\n\t<CATEGORIES>\n'
  category Births "Live births" 6674.1 ""
  category "Infant health" "Sudden infant deaths" 0.2 "% chance"
  category Ethnicity "Non-white births" 31.4 "% chance"
  printf '\t</CATEGORIES>\n</CPCPFFILE>\n'
} >"$dir/ProfilingParams.cpf"
profile_rows() {  # FILE: the profile's three rows, averages whole as the profile's table shows them
  grep -cE '^ *(Births +Live births +6674|Infant health +Sudden infant deaths +0% chance|Ethnicity +Non-white births +31% chance)$' "$1"
}
run 0 "report: $work/profiled.pdf" "$plexa" analyses report "High SIDS" --config "$cfg" --analyses "$analyses" \
  --pdf "$work/profiled.pdf"
pdftotext -layout "$work/profiled.pdf" "$work/profiled.txt"
grep -q 'Customer profile' "$work/profiled.txt" && [ "$(profile_rows "$work/profiled.txt")" = 3 ] ||
  fail "the PDF has not the profile's three rows: $(grep -A6 'Customer profile' "$work/profiled.txt")"
run 0 "Customer profile" "$plexa" analyses show "High SIDS" --config "$cfg" --analyses "$analyses"
[ "$(profile_rows "$work/out")" = 3 ] || fail "the text has not the profile's three rows: $(grep -A6 'Customer profile' "$work/out")"
pdftoppm -png -r 50 "$work/profiled.pdf" "$work/pages/profiled"

# A decimal-comma user reads the numbers as written there, on A4.
LANG=de_DE.UTF-8 run 0 'areas found: 18' "$plexa" demographic --config "$cfg" --analyses "$analyses" \
  --level Counties --dmq "$src/data/high-sids.dmq" --name "Hohe SIDS"
pdftotext -layout "$analyses/Hohe_SIDS/Report.pdf" "$work/hohe.txt"
grep -qE "Live births +$(grouped "$bfound" .) " "$work/hohe.txt" || fail "a German report does not group with ."
pdfinfo "$analyses/Hohe_SIDS/Report.pdf" | grep -q '595.* x 841' || fail "a German report is not on A4"
pdfinfo "$dir/Report.pdf" | grep -q '612 x 792' || fail "an American report is not on Letter"

# ---- a long table: every county with births, under a Unicode name
run 0 'areas found: 100' "$plexa" demographic --config "$cfg" --analyses "$analyses" --level Counties \
  --target "Births/Live births>=1" --name "Alle Bezirke – Łódź"
long=$(ls -d "$analyses"/Alle*)
pdftotext -layout "$long/Report.pdf" "$work/long.txt"
pages=$(pdfinfo "$long/Report.pdf" | sed -n 's/^Pages: *//p')
[ "$pages" -ge 3 ] || fail "100 rows did not continue over pages ($pages)"
[ "$(grep -cE '^.?FIPS +Name +Live births' "$work/long.txt")" -ge 2 ] || fail "the table's header is not repeated"
[ "$(grep -cE '^.?37[0-9]{3} ' "$work/long.txt")" = 100 ] || fail "the long table has not 100 rows"
grep -q 'Report of Alle Bezirke – Łódź' "$work/long.txt" || fail "the Unicode name is not shown right"
pdftoppm -png -r 50 "$long/Report.pdf" "$work/pages/long"

# ---- household: the five classes, and the study area's counts from the service
hhd="$(dirname "$plexa")/plexa-hhd"
"$hhd" --port 0 --job-seconds 0 >"$work/hhd.log" 2>&1 &
hhd_pid=$!
for _ in 1 2 3 4 5 6 7 8 9 10; do grep -q listening "$work/hhd.log" && break; sleep 0.2; done
PLEXA_HOUSEHOLD_SERVICE=$(sed -n 's/^listening on //p' "$work/hhd.log" | head -1)
export PLEXA_HOUSEHOLD_SERVICE XDG_CONFIG_HOME="$work/config" PLEXA_REGISTRY="$work/config/registry.ini"
PLEXA_PASSWORD=demo run 0 'areas found: ' "$plexa" household --config "$cfg" --analyses "$analyses" \
  --level Counties --hhq "$src/data/young-families.hhq" --name Young --user demo
kill "$hhd_pid"
dir="$analyses/Young"
pdftotext -layout "$dir/Report.pdf" "$work/young.txt"
grep -q 'at least 20 percent of households match' "$work/young.txt" || fail "the household criteria are missing"
grep -qE '^ +or 35 to 44$' "$work/young.txt" || fail "the household targets are missing"
[ "$(grep -cE '^ +[0-9.]+ - [0-9.]+ % +[0-9.]+ +[0-9.]+ +[0-9]+$' "$work/young.txt")" = 5 ] || fail "not five classes"
n=$(ogrinfo -q -ro -sql "SELECT COUNT(*) AS c FROM Result" "$dir/Result.shp" | sed -n 's/^ *c (Integer) = //p')
classed=$(grep -E '^ +[0-9.]+ - [0-9.]+ %' "$work/young.txt" | awk '{ s += $NF } END { print s }')
[ "$classed" = "$n" ] || fail "the classes count $classed areas, not $n"
read_found=$(ogrinfo -q -ro -sql "SELECT SUM(TOTREAD) AS s FROM Result" "$dir/Result.shp" | sed -n 's/^ *s ([A-Za-z0-9]*) = //p')
read_all=$(ogrinfo -q -ro -sql "SELECT SUM(TQ) AS s FROM tmp" "$dir/tmp.dbf" | sed -n 's/^ *s ([A-Za-z0-9]*) = //p')
grep -qE "Households +$(grouped "$read_found") +$(grouped "$read_all") +$(percent "$read_found" "$read_all")" \
  "$work/young.txt" || fail "households are not $(grouped "$read_found") of $(grouped "$read_all")"
pdftoppm -png -r 50 "$dir/Report.pdf" "$work/pages/young"

# ---- the HTML: one file, nothing fetched, the map in it
grep -q 'src="data:image/png;base64,' "$dir/Report.html" || fail "the map is not inside the HTML"
grep -qE '(src|href)="https?:' "$dir/Report.html" && fail "the HTML fetches from a network"
chromium=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$chromium" ]; then
  echo "SKIPPED: the HTML in a browser (chromium is not installed; scripts/install-deps.sh installs it)"
else
  shot="$work/pages/young-html.png"
  HOME="$work" timeout 60 "$chromium" --headless --no-sandbox --disable-gpu --hide-scrollbars \
    --window-size=1000,1100 --screenshot="$shot" "file://$dir/Report.html" >/dev/null 2>&1
  [ -s "$shot" ] || fail "Chromium made no screenshot of the HTML"
  # The map's green classes fill part of the screenshot.
  green=$(python3 - "$shot" <<'EOF'
import sys, zlib, struct
data = open(sys.argv[1], 'rb').read()
w, h, depth, ctype = struct.unpack('>IIBB', data[16:26])
idat, pos = b'', 8
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8]); pos += 8
    if kind == b'IDAT': idat += data[pos:pos + n]
    pos += n + 4
raw, bpp = zlib.decompress(idat), (4 if ctype == 6 else 3)
stride, prev, rows, green = w * bpp, bytearray(w * bpp), [], 0
for y in range(h):
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - bpp] if i >= bpp else 0; b = prev[i]; c = prev[i - bpp] if i >= bpp else 0
        if f == 1: line[i] = (line[i] + a) & 255
        elif f == 2: line[i] = (line[i] + b) & 255
        elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c; pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    for x in range(0, stride, bpp):
        r, g, bl = line[x], line[x + 1], line[x + 2]
        if g > r + 40 and g > bl + 40: green += 1
    prev = line
print(green)
EOF
)
  [ "${green:-0}" -gt 2000 ] || fail "the HTML's screenshot shows no map ($green green pixels)"
fi

finish
