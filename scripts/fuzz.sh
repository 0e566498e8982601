#!/bin/sh
# Builds the fuzz targets of fuzz/ with clang's libFuzzer (and ASan and
# UBSan) into build-fuzz and runs each for a bounded time, starting from
# its seeds in fuzz/corpus/<kind>/ after replaying fuzz/regressions/<kind>/.
# Any crash, leak, undefined behaviour or timeout fails the script; the
# inputs that caused them are kept in build-fuzz/findings/<kind>/.
#   FUZZ_SECONDS  seconds per target (default 60)
#   FUZZ_JOBS     targets run at the same time (default 2)
#   FUZZ_TARGETS  the kinds to run (default all)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/fetch-sample.sh"
# clang 16: the code uses C++20 that clang 14 does not compile.
PKGS="clang-16 libclang-rt-16-dev"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi

build="$root/build-fuzz"
kinds=${FUZZ_TARGETS:-"config dmq hhq cpf result_table credentials service_reply shapefile"}
CC=clang-16 CXX=clang++-16 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPXCP_BUILD_GUI=OFF -DPXCP_FUZZ=ON >/dev/null
targets=""
for k in $kinds; do targets="$targets fuzz_$k"; done
cmake --build "$build" -j "${JOBS:-2}" --target $targets

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
seconds=${FUZZ_SECONDS:-60}
mkdir -p "$build/findings" "$build/logs"

# What went wrong in a target's log, for a reader who sees only this
# script's output.
reason() {
  grep -m4 -E "^(pxcp fuzz:|==[0-9]+==ERROR|SUMMARY:)|runtime error:" "$1" | cut -c1-300 | sed 's/^/  /'
}

# One target: replays its regressions, then fuzzes from the seeds. The
# working corpus grows in build-fuzz, never in the repository.
run_one() {
  k=$1
  exe="$build/fuzz/fuzz_$k"
  findings="$build/findings/$k"
  work="$build/corpus/$k"
  mkdir -p "$findings" "$work"
  log="$build/logs/$k.log"
  dict=""
  case $k in
    config) dict="-dict=$root/fuzz/dict/config.dict" ;;
    dmq|hhq|cpf) dict="-dict=$root/fuzz/dict/query.dict" ;;
  esac
  if [ -d "$root/fuzz/regressions/$k" ] && [ -n "$(ls -A "$root/fuzz/regressions/$k")" ]; then
    if ! "$exe" -artifact_prefix="$findings/" "$root/fuzz/regressions/$k"/* >"$log.replay" 2>&1; then
      echo "FAIL: $k: a regression input fails again (see $log.replay)"
      reason "$log.replay"
      return 1
    fi
  fi
  if "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 $dict \
       -artifact_prefix="$findings/" "$work" "$root/fuzz/corpus/$k" >"$log" 2>&1; then
    echo "ok: $k ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs)"
  else
    echo "FAIL: $k (see $log; inputs in $findings)"
    reason "$log"
    return 1
  fi
}

status=0
jobs=${FUZZ_JOBS:-2}
running=0
pids=""
for k in $kinds; do
  run_one "$k" > "$build/logs/$k.result" 2>&1 &
  pids="$pids $!"
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    for p in $pids; do wait "$p" || status=1; done
    pids=""; running=0
  fi
done
for p in $pids; do wait "$p" || status=1; done
for k in $kinds; do cat "$build/logs/$k.result"; done
exit $status
