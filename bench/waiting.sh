#!/bin/sh
# CPU spent while a household run waits on the household-data service: the
# program and the service each, as a share of one core over the wait.
#   waiting.sh [BUILD_DIR] [SECONDS]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build} seconds=${2:-8}
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$work"' EXIT
"$build/plexa-hhd" --port 0 --job-seconds "$seconds" --job-polls 1000000 >"$work/hhd.log" 2>&1 &
pid=$!
for _ in 1 2 3 4 5 6 7 8 9 10; do grep -q listening "$work/hhd.log" && break; sleep 0.2; done
PLEXA_HOUSEHOLD_SERVICE=$(sed -n 's/^listening on //p' "$work/hhd.log" | head -1)
XDG_CONFIG_HOME=$work/config PLEXA_REGISTRY=$work/registry.ini PLEXA_PASSWORD=demo
export PLEXA_HOUSEHOLD_SERVICE XDG_CONFIG_HOME PLEXA_REGISTRY PLEXA_PASSWORD
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks $pid)
/usr/bin/time -f "%U %S %e" -o "$work/time" "$build/plexa" -q household --config "$root/data/nc.xml" \
  --analyses "$work/analyses" --level Counties --hhq "$root/data/young-families.hhq" --name Waiting --user demo
after=$(ticks $pid)
read -r user sys elapsed <"$work/time"
awk -v u="$user" -v s="$sys" -v e="$elapsed" -v t=$((after - before)) -v hz="$hz" 'BEGIN {
  printf "waited %.1f s: plexa %.1f %% of a core, plexa-hhd %.1f %% (target: under 5 %% each)\n",
         e, 100 * (u + s) / e, 100 * t / hz / e }'
