#!/bin/bash
# One analyses folder, many plexa runs at once: replacements of one analysis
# started together (some failing, one killed) leave exactly one complete
# analysis of that name each round, with no copies or scratch folders left;
# runs making one new name together let exactly one have it, and tell the
# others so in one line.
#   shared_folder_cli_tests.sh PLEXA SOURCE_DIR WORKDIR
set -u
plexa=$1 src=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
. "$(dirname "$0")/cli_support.sh"
sample="$src/data/sample"
cp "$sample"/nc.* "$work/"
config="$work/nc.xml"
sed "s|data=\"sample\"|data=\"$work\"|" "$src/data/nc.xml" >"$config"
analyses="$work/analyses"

demographic() {  # NAME ARGS...: one run, bounded in time
  local name=$1
  shift
  timeout 60 "$plexa" -q demographic --config "$config" --analyses "$analyses" --level Counties --name "$name" "$@"
}
keys() {  # the FIPS codes of a result, sorted
  ogrinfo -ro -q -al "$1" | sed -n 's/^ *FIPS (String) = //p' | sort
}
# The folders whose analysis bears the name.
folders_named() {
  grep -l "<Analysis name=\"$1\"" "$analyses"/*/analysis.xml 2>/dev/null | xargs -r -n1 dirname
}
# Exactly one complete analysis of the name, in the folder of its name;
# its output is what its own query finds.
check_one() {  # NAME FOLDER ROUND
  local found
  found=$(folders_named "$1")
  [ "$found" = "$analyses/$2" ] || { fail "round $3: the folders of \"$1\" are: $(echo $found)"; return; }
  for f in AnalysisParams.dmq Result.shp Result.dbf Report.txt Report.csv; do
    [ -s "$analyses/$2/$f" ] || fail "round $3: \"$1\" has no $f"
  done
  [ -e "$analyses/$2/.incomplete" ] && fail "round $3: \"$1\" is marked unfinished"
  demographic Check --dmq "$analyses/$2/AnalysisParams.dmq" --overwrite >/dev/null 2>&1 ||
    fail "round $3: the query of \"$1\" does not run again"
  [ "$(keys "$analyses/$2/Result.shp")" = "$(keys "$analyses/Check/Result.shp")" ] ||
    fail "round $3: the output of \"$1\" is not what its query finds"
  ls -d "$analyses/$2"_* >/dev/null 2>&1 && fail "round $3: folders named alike: $(ls -d "$analyses/$2"_*)"
  [ -n "$(ls -A "$analyses/.replaced" 2>/dev/null)" ] && fail "round $3: copies kept aside were left: $(ls "$analyses/.replaced")"
  true
}

# ---- replacements of one analysis, several rounds
demographic Same --dmq "$src/data/high-sids.dmq" >/dev/null || fail "the first analysis was not made"
for round in 1 2 3 4; do
  n=$((round * 2 + 2))  # 4, 6, 8, 10 runs
  pids=() kinds=()
  for i in $(seq 1 "$n"); do
    case $((i % 4)) in
      0) demographic Same --target "Live births>=999999" --overwrite >"$work/out.$i" 2>&1 & kinds+=(fails) ;;
      1) demographic Same --dmq "$src/data/high-sids.dmq" --overwrite >"$work/out.$i" 2>&1 & kinds+=(ok) ;;
      *) demographic Same --target "Live births>=$((2000 * i))" --overwrite >"$work/out.$i" 2>&1 & kinds+=(ok) ;;
    esac
    pids+=($!)
  done
  # One more is killed while it is at work, or waiting for its turn.
  (exec "$plexa" -q demographic --config "$config" --analyses "$analyses" --level Counties --name Same \
    --target "Live births>=3000" --overwrite >/dev/null 2>&1) &
  victim=$!
  sleep 0.$((RANDOM % 6))
  { kill -9 "$victim"; } 2>/dev/null
  for i in $(seq 1 "$n"); do
    wait "${pids[$((i - 1))]}"
    rc=$?
    if [ "${kinds[$((i - 1))]}" = ok ] && [ "$rc" != 0 ]; then
      fail "round $round: replacement $i ended with $rc: $(cat "$work/out.$i")"
    elif [ "${kinds[$((i - 1))]}" = fails ] && ! { [ "$rc" = 1 ] && grep -q 'No area matches' "$work/out.$i"; }; then
      fail "round $round: the failing replacement $i ended with $rc: $(cat "$work/out.$i")"
    fi
  done 2>/dev/null  # the shell's word on the killed one
  { wait "$victim"; } 2>/dev/null
  check_one Same Same "$round"
  echo "ok: round $round, $n replacements at once and one killed"
done

# ---- one new name, made by several runs at once without --overwrite
for round in 1 2 3; do
  n=$((round + 4))
  pids=()
  for i in $(seq 1 "$n"); do
    demographic "New $round" --dmq "$src/data/high-sids.dmq" >"$work/out.$i" 2>"$work/err.$i" &
    pids+=($!)
  done
  made=0
  for i in $(seq 1 "$n"); do
    wait "${pids[$((i - 1))]}"
    rc=$?
    if [ "$rc" = 0 ]; then
      made=$((made + 1))
    elif [ "$rc" != 1 ] || [ "$(wc -l <"$work/err.$i")" != 1 ] ||
         ! grep -q "exists already" "$work/err.$i"; then
      fail "round $round: a refused run ended with $rc: $(cat "$work/err.$i")"
    fi
  done
  [ "$made" = 1 ] || fail "round $round: $made runs of $n made \"New $round\""
  check_one "New $round" "New_$round" "$round"
  echo "ok: round $round, $n runs making one new name"
done
finish
