#!/bin/sh
# Builds, generates the synthetic block groups and customers once and runs
# the benchmarks; with --scale, also the scaling table (bench/scale.sh);
# with --postgis, also the PostGIS benchmarks (bench/postgis.sh).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
data="$root/out/bench"
[ -f "$data/blockgroups.shp" ] || "$root/build/bench/gen_blockgroups" "$data" 220000
[ -f "$data/customers.shp" ] || "$root/build/bench/gen_customers" "$data" 1000000
echo "== demographic selection"
"$root/build/bench/bench_demographic" "$data" 3
echo "== customer profile"
"$root/build/bench/bench_profile" "$data" 3
echo "== household join"
"$root/build/bench/bench_household" "$data" 3
echo "== waiting on the household-data service"
"$root/bench/waiting.sh" "$root/build" 10
echo "== the household-data service under load"
"$root/build/bench/soak_hhd" --seconds 60
for option in "$@"; do
    case "$option" in
    --scale)
        echo "== how the cost grows"
        "$root/bench/scale.sh" "$root/build" ;;
    --postgis)
        echo "== data in PostGIS"
        "$root/bench/postgis.sh" "$root/build" 3 ;;
    *) echo "run.sh: unknown option $option (--scale, --postgis)" >&2; exit 2 ;;
    esac
done
