#!/bin/sh
# Builds, generates the synthetic block groups once and runs the benchmarks.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
data="$root/out/bench"
[ -f "$data/blockgroups.shp" ] || "$root/build/bench/gen_blockgroups" "$data" 220000
"$root/build/bench/bench_demographic" "$data" 3
