#!/bin/bash
# The plexa program as a user meets it: broken configurations refused by
# every command with the checker's messages and nothing written, layers
# without a coordinate system refused, criteria given on the command line
# that round-trip through a query file, and the usual command-line habits.
#   plexa_cli_tests.sh PLEXA SOURCE_DIR WORKDIR
set -u
plexa=$1 src=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
sample="$src/data/sample"
. "$(dirname "$0")/cli_support.sh"

# A copy of the NC counties, and configurations made from the sample's.
cp "$sample"/nc.* "$work/"
good="$work/good.xml"
sed "s|data=\"sample\"|data=\"$work\"|" "$src/data/nc.xml" >"$good"
analyses="$work/analyses"

# ---- broken configurations: every command refuses them, nothing is written
broken() {  # NAME SED-EXPRESSION
  sed "$2" "$good" >"$work/$1.xml"
}
broken typo 's|<Layer name="Counties"|<Layer nmae="Counties" name="Counties"|'
broken mainlayer 's|<Param key="MainLayer" value="Counties"/>|<Param key="MainLayer" value="Countys"/>|'
broken nofile 's|dataset="nc"|dataset="nowhere"|'
broken field 's|number="BIR74"/>|number="BIRTHS74"/>|'
broken textfield 's|number="BIR74"/>|number="NAME"/>|'
broken noid 's| idField="FIPS"||'
cp "$sample/zipcodes.shp" "$sample/zipcodes.shx" "$sample/zipcodes.dbf" "$sample/zipcodes.prj" "$work/"
broken points 's|dataset="nc"|dataset="zipcodes"|'
mkdir -p "$work/noprj"
cp "$sample"/nc.shp "$sample"/nc.shx "$sample"/nc.dbf "$work/noprj/"
sed "s|data=\"sample\"|data=\"$work/noprj\"|" "$src/data/nc.xml" >"$work/nocrs.xml"
printf '<PlexaConfiguration><Dataset name="x"><Layer name="a"' >"$work/badxml.xml"

for c in typo mainlayer nofile field textfield noid points nocrs badxml; do
  cfg="$work/$c.xml"
  run 1 "$c.xml:[0-9]+: " "$plexa" check --config "$cfg"
  for cmd in levels "demographic --level Counties --dmq $src/data/high-sids.dmq --name Refused" \
             "profile --level Counties --customers $sample/zipcodes.shp" "map --png $work/refused.png" gui; do
    # shellcheck disable=SC2086
    run 1 "$c.xml:[0-9]+: " "$plexa" $cmd --config "$cfg" --analyses "$analyses"
  done
  [ -e "$work/refused.png" ] && fail "$c: a picture was written from a broken configuration"
  [ -n "$(ls -A "$analyses" 2>/dev/null)" ] && fail "$c: something was written into the analyses folder"
done
grep -q 'did you mean name' "$work/err" || true
run 1 'Unknown attribute nmae on <Layer>; did you mean name' "$plexa" check --config "$work/typo.xml"
run 1 'MainLayer "Countys" .* is not a layer' "$plexa" check --config "$work/mainlayer.xml"
run 1 'has no coordinate system: add srs="EPSG:N"' "$plexa" check --config "$work/nocrs.xml"
run 1 'holds points' "$plexa" check --config "$work/points.xml"
run 1 'BIRTHS74' "$plexa" check --config "$work/field.xml"
run 1 'is text' "$plexa" check --config "$work/textfield.xml"
run 1 'no idField' "$plexa" check --config "$work/noid.xml"
run 0 'no problems' "$plexa" check --config "$good"

# ---- coordinate systems are stated, never guessed
sed 's|<Layer name="Counties"|<Layer srs="EPSG:4267" name="Counties"|' "$work/nocrs.xml" >"$work/withsrs.xml"
run 0 'no problems' "$plexa" check --config "$work/withsrs.xml"
run 1 'has no coordinate system: give it one with --srs' \
  "$plexa" dataset init --out "$work/init-nocrs.xml" --name NC --level "Counties=$work/noprj/nc.shp"
[ -e "$work/init-nocrs.xml" ] && fail "dataset init wrote a configuration for a layer without a coordinate system"

# ---- dataset init on layers with several families of fields by period:
# the years it keeps query the fields of their period, as ogrinfo -where does
field_keys() {  # FIELD LAYER-FILE [WHERE]: the FIELD values, sorted
  ogrinfo -ro -q -al ${3:+-where "$3"} "$2" | sed -n "s/^ *$1 ([A-Za-z0-9]*) = //p" | sort
}
run 0 'written to' "$plexa" dataset init --out "$work/stl.xml" --name STL --srs EPSG:4269 --base PO \
  --level "Counties=$sample/stl_hom.shp"
run 0 'no problems' "$plexa" check --config "$work/stl.xml"
run 0 'areas found: ' "$plexa" demographic --config "$work/stl.xml" --analyses "$analyses" --level Counties \
  --target "HR>=8" --year 3 --name "STL late"
[ "$(field_keys FIPS "$analyses/STL_late/Result.shp")" = "$(field_keys FIPS "$sample/stl_hom.shp" "HR8893 >= 8")" ] ||
  fail "the third period of the St Louis counties does not query HR8893"
run 0 'areas found: ' "$plexa" demographic --config "$work/stl.xml" --analyses "$analyses" --level Counties \
  --target "HC>=0.01" --percentages --year 2 --name "STL middle"
[ "$(field_keys FIPS "$analyses/STL_middle/Result.shp")" = \
  "$(field_keys FIPS "$sample/stl_hom.shp" "HC8488 * 100 >= 0.01 * PO8488")" ] ||
  fail "the second period's share does not query HC8488 of PO8488"
run 0 'written to' "$plexa" dataset init --out "$work/mexico.xml" --name Mexico --srs EPSG:4326 \
  --level "States=$sample/mexicojoin.shp" --years 1940,1970,2000
run 0 'areas found: ' "$plexa" demographic --config "$work/mexico.xml" --analyses "$analyses" --level States \
  --target "LPCGDP>=4.3" --year 2 --name "Mexico 1970"
[ "$(field_keys CODE "$analyses/Mexico_1970/Result.shp")" = "$(field_keys CODE "$sample/mexicojoin.shp" "LPCGDP70 >= 4.3")" ] ||
  fail "the year 1970 chosen with --years does not query LPCGDP70"
# A period the data has not: one line naming the periods, exit 1, nothing written.
run 1 '^plexa: .*has no period 1930 \(given with --years\); its periods are: 1940, 1950' \
  "$plexa" dataset init --out "$work/mexico-1930.xml" --name Mexico --srs EPSG:4326 \
  --level "States=$sample/mexicojoin.shp" --years 1930
[ "$(wc -l <"$work/err")" = 1 ] || fail "a refused --years printed more than one line"
[ -e "$work/mexico-1930.xml" ] && fail "dataset init wrote a configuration for a period the data has not"
ls -a "$work" | grep -q '^\.plexa-init' && fail "dataset init left its scratch copy behind"
mkdir -p "$work/custnoprj"
cp "$sample"/zipcodes.shp "$sample"/zipcodes.shx "$sample"/zipcodes.dbf "$work/custnoprj/"
run 1 'no coordinate system: give it one with --customers-srs' \
  "$plexa" profile --config "$good" --level Counties --customers "$work/custnoprj/zipcodes.shp"
run 0 'inside an area: 1070' \
  "$plexa" profile --config "$good" --level Counties --customers "$work/custnoprj/zipcodes.shp" --customers-srs EPSG:4326
run 1 'not points' "$plexa" profile --config "$good" --level Counties --customers "$sample/nc.shp"
run 0 'customers read: 42555, inside an area: 1070, outside every area: 41485' \
  "$plexa" profile --config "$good" --level Counties --customers "$sample/zipcodes.shp"
# The characteristics are those the profile page lists for the year: they
# end at a target without a field for it, which a note names. A share keeps
# three digits: the customers' counties average 0.1426 square degrees (as a
# SpatiaLite join of zipcodes.shp and nc.shp averages AREA).
sed -e 's|<Field year="1" number="SID74" percent="BIR74"/><Field year="2" number="SID79" percent="BIR79"/>|<Field year="1" number="SID74" percent="BIR74"/>|' \
  -e 's|<Category id="Births" caption="Births">|&<Target name="County area" CanPercent="False"><Field year="1" number="AREA"/><Field year="2" number="AREA"/></Target>|' \
  "$good" >"$work/gap.xml"
run 0 'note: Infant health / Sudden infant deaths has no field for 1979-84' \
  "$plexa" profile --config "$work/gap.xml" --level Counties --customers "$sample/zipcodes.shp" --year 2
grep -qE '^  Births / County area: 0[.,]143$' "$work/out" || fail "the share is not shown with three digits: $(cat "$work/out")"
grep -qE 'Sudden infant deaths|Non-white births' "$work/out" && fail "characteristics after the one without a field were profiled"
run 0 'Ethnicity / Non-white births: 31[.,]4 % chance' \
  "$plexa" profile --config "$work/gap.xml" --level Counties --customers "$sample/zipcodes.shp" --year 1

# ---- criteria: --target, --save-dmq, --dmq give the same areas
keys() {  # the FIPS codes of an analysis's result, sorted
  ogrinfo -ro -q -al "$analyses/$1/Result.shp" | sed -n 's/^ *FIPS (String) = //p' | sort
}
run 0 'areas found: ' "$plexa" demographic --config "$good" --analyses "$analyses" --level Counties \
  --target "Infant health/Sudden infant deaths>=0.2" --target "Non-white births=20..60" --percentages --year 2 \
  --save-dmq "$work/round.dmq" --name "From targets"
run 0 'areas found: ' "$plexa" demographic --config "$good" --analyses "$analyses" --level Counties \
  --dmq "$work/round.dmq" --name "From file"
[ -n "$(keys From_targets)" ] || fail "the criteria found nothing"
[ "$(keys From_targets)" = "$(keys From_file)" ] || fail "the saved query finds other areas than the criteria"
# The same selection by hand, without the library.
want=$(ogrinfo -ro -q -al -where "SID79 >= 0.002*BIR79 AND NWBIR79 >= 0.2*BIR79 AND NWBIR79 <= 0.6*BIR79" \
  "$work/nc.shp" | sed -n 's/^ *FIPS (String) = //p' | sort)
[ "$want" = "$(keys From_targets)" ] || fail "the criteria do not select what ogrinfo -where selects"
run 0 'query saved to' "$plexa" demographic --config "$good" --level Counties --target "Live births>=10000" \
  --save-dmq "$work/only.dmq"
[ -e "$analyses/only" ] && fail "saving a query alone made an analysis"
# Every check of the data page, answered as a user who says No.
run 2 'refused: You have specified a Ceiling value less then the Floor value' "$plexa" demographic --config "$good" \
  --analyses "$analyses" --level Counties --target "Live births=500..100" --name Flipped
run 2 'refused: You have specified a Floor percentage value greater than 100' "$plexa" demographic --config "$good" \
  --analyses "$analyses" --level Counties --target "Non-white births>=150" --percentages --name Over
[ -e "$analyses/Flipped" ] || [ -e "$analyses/Over" ] && fail "a refused query left an analysis"
run 2 'no target "Births"; its targets are' "$plexa" demographic --config "$good" --level Counties \
  --target "Births>=1" --name X
run 2 'is not a number' "$plexa" demographic --config "$good" --level Counties --target "Live births>=abc" --name X

# ---- --overwrite replaces through the sub-task; without it the name is refused
run 1 'exists already; give --overwrite' "$plexa" demographic --config "$good" --analyses "$analyses" \
  --level Counties --dmq "$src/data/high-sids.dmq" --name "From file"
run 0 'areas found: 18' "$plexa" demographic --config "$good" --analyses "$analyses" \
  --level Counties --dmq "$src/data/high-sids.dmq" --name "From file" --overwrite
[ "$(keys From_file | wc -l)" = 18 ] || fail "--overwrite did not replace the analysis"
# A replacement that fails keeps the analysis it was to replace.
run 1 'No area matches' "$plexa" demographic --config "$good" --analyses "$analyses" --level Counties \
  --target "Live births>=999999" --name "From file" --overwrite
[ "$(cat "$work/out" "$work/err")" = "plexa: No area matches the query." ] ||
  fail "no area found is not told in one line: $(cat "$work/out" "$work/err")"
[ "$(keys From_file | wc -l)" = 18 ] || fail "a failed --overwrite lost the old analysis"
[ -n "$(ls -A "$analyses/.replaced" 2>/dev/null)" ] && fail "a copy kept aside was left behind"
# What killed runs leave: an analysis never finished, and a copy kept aside.
mkdir -p "$analyses/Ghost"
echo '<Analysis name="Ghost"/>' >"$analyses/Ghost/analysis.xml"
echo 999999 >"$analyses/Ghost/.incomplete"
mkdir -p "$analyses/.replaced"
cp -r "$analyses/From_file" "$analyses/.replaced/From_file.999998"
rm -rf "$analyses/From_file"
run 0 'areas found: ' "$plexa" demographic --config "$good" --analyses "$analyses" --level Counties \
  --dmq "$src/data/high-sids.dmq" --name Ghost
[ "$(keys From_file | wc -l)" = 18 ] || fail "the analysis kept aside by a killed run did not come back"

# ---- command-line habits
run 0 'Usage:' "$plexa" --help
run 0 '--target' "$plexa" demographic --help
run 2 'Run .plexa --help' "$plexa" frobnicate
run 2 'no demographic level "Tracts" in North Carolina; the levels are "Counties"' \
  "$plexa" demographic --config "$good" --level Tracts --dmq "$src/data/high-sids.dmq" --name X
run 2 '' "$plexa" map --config "$good" --png "$work/zero.png" --width 0
run 2 'one line' "$plexa" demographic --config "$good" --level Counties --dmq "$src/data/high-sids.dmq" \
  --name "two
lines"
run 2 '' "$plexa" profile --config "$good" --level Counties --customers "$sample/zipcodes.shp" --year abc
run 1 '' "$plexa" -q demographic --config "$good" --analyses "$analyses" --level Counties \
  --target "Live births>=999999" --name "Nothing found"
[ -s "$work/out" ] && fail "a failed run printed on stdout"
[ "$(wc -l <"$work/err")" = 1 ] || fail "a failure should be one line on stderr, got: $(cat "$work/err")"
mkfifo "$work/fifo.dmq"
run 2 'not a regular file' "$plexa" demographic --config "$good" --level Counties --dmq "$work/fifo.dmq" --name X
run 2 'is a folder' "$plexa" demographic --config "$good" --level Counties --dmq "$work" --name X
run 0 '' "$plexa" -q levels --config "$good"
[ -s "$work/out" ] && fail "--quiet still printed"

# ---- a full disk: a clear message, nothing left under the name, the old
# analysis kept (only where a small file system can be mounted)
if mkdir -p "$work/full" && mount -t tmpfs -o size=16k tmpfs "$work/full" 2>/dev/null; then
  run 1 'could not be saved .*No space left on device' "$plexa" demographic --config "$good" --level Counties \
    --dmq "$src/data/high-sids.dmq" --name "Full disk" --analyses "$work/full/an"
  [ -e "$work/full/an/Full_disk" ] && fail "a failed run on a full disk left its folder"
  umount "$work/full"
fi

# ---- help topics in the terminal
run 0 'ABOUT_CUSTOMER_PROFILE +Customer profile' "$plexa" help
run 0 '^Customer profile$' "$plexa" help about_customer_profile
grep -q '<' "$work/out" && fail "a help topic printed markup"
run 2 'no help topic NOPE; the topics are ABOUT_CUSTOMER_PROSPECTING' "$plexa" help NOPE

# ---- household: the remembered login, the password never in argv, and a
# fetched table that replaces a good one only when it is whole
hhd="$(dirname "$plexa")/plexa-hhd"
service() {  # ARGS...: starts the service, sets PLEXA_HOUSEHOLD_SERVICE
  "$hhd" --port 0 --job-seconds 0 "$@" >"$work/hhd.log" 2>&1 &
  hhd_pid=$!
  for _ in 1 2 3 4 5 6 7 8 9 10; do grep -q listening "$work/hhd.log" && break; sleep 0.2; done
  PLEXA_HOUSEHOLD_SERVICE=$(sed -n 's/^listening on //p' "$work/hhd.log" | head -1)
  export PLEXA_HOUSEHOLD_SERVICE
}
export XDG_CONFIG_HOME="$work/config" PLEXA_REGISTRY="$work/config/registry.ini"
service
run 2 'no login to the household-data service is remembered' "$plexa" household --config "$good" \
  --analyses "$analyses" --level Counties --hhq "$src/data/young-families.hhq" --name Young
run 2 'no login to the household-data service is remembered' "$plexa" fetch-result --job HH0 --dbf "$work/x.dbf"
run 2 'PLEXA_PASSWORD' "$plexa" household --config "$good" --analyses "$analyses" --level Counties \
  --hhq "$src/data/young-families.hhq" --name Young --user demo </dev/null
PLEXA_PASSWORD=demo run 0 'job id: HH' "$plexa" household --config "$good" --analyses "$analyses" \
  --level Counties --hhq "$src/data/young-families.hhq" --name Young --user demo --no-wait
job=$(sed -n 's/^job id: \([A-Z0-9]*\).*/\1/p' "$work/out")
run 0 'areas found: ' "$plexa" household --config "$good" --analyses "$analyses" --level Counties \
  --hhq "$src/data/young-families.hhq" --name "Young again"
grep -rq 'Password' "$analyses"/*/analysis.xml && fail "a password was written into an analysis"
stat -c %a "$work/config/registry.ini" | grep -qx 600 || fail "the registry is not private to its user"
run 0 'written to' "$plexa" fetch-result --job "$job" --dbf "$work/later.dbf"
sum=$(md5sum <"$work/later.dbf")
kill "$hhd_pid"
service --fault html
run 0 'job id: HH' "$plexa" household --config "$good" --analyses "$analyses" --level Counties \
  --hhq "$src/data/young-families.hhq" --name "Young html" --no-wait
job=$(sed -n 's/^job id: \([A-Z0-9]*\).*/\1/p' "$work/out")
run 1 'no usable result table .* was not changed' "$plexa" fetch-result --job "$job" --dbf "$work/later.dbf"
[ "$(md5sum <"$work/later.dbf")" = "$sum" ] || fail "a bad reply changed a good table"
kill "$hhd_pid"

finish
