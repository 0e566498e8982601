#!/bin/sh
# Prints how the cost grows: the profile at 100 k, 1 M and 10 M customers
# over 22 k and 220 k areas, and the demographic worker and the household
# join at 22 k, 220 k and 2.2 M areas, each with its time, rate and peak
# memory (one run each, without the ogr2ogr peers). The data is generated
# once into out/bench/scale (about 1.5 GB).
#   bench/scale.sh [BUILDDIR]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
scale="$root/out/bench/scale"
mkdir -p "$scale"

for n in 22000 220000 2200000; do
    [ -f "$scale/areas-$n/blockgroups.shp" ] || "$build/bench/gen_blockgroups" "$scale/areas-$n" "$n" > /dev/null
done
for n in 100000 1000000 10000000; do
    [ -f "$scale/customers-$n/customers.shp" ] || "$build/bench/gen_customers" "$scale/customers-$n" "$n" > /dev/null
done

# Runs a benchmark under /usr/bin/time; prints its line "NAME: T s ..." and
# the peak memory in MB, separated by a bar.
measure() {
    name=$1
    shift
    out=$(/usr/bin/time -f "peak %M" "$@" 2>&1)
    line=$(printf '%s\n' "$out" | grep "^$name:" | head -1)
    peak=$(printf '%s\n' "$out" | sed -n 's/^peak \([0-9]*\)$/\1/p' | tail -1)
    seconds=$(printf '%s\n' "$line" | sed -n "s/^$name: *\([0-9.]*\) s.*/\1/p")
    echo "$seconds|$((peak / 1024))"
}

row() {  # what, areas, customers, seconds|peak, items for the rate
    seconds=${4%|*}
    peak=${4#*|}
    rate=$(awk -v n="$5" -v s="$seconds" 'BEGIN { if (s > 0) printf "%.2f M/s", n / s / 1e6; else print "-" }')
    printf '%-12s %10s %11s %9s %12s %9s\n' "$1" "$2" "$3" "$seconds" "$rate" "$peak"
}

printf '%-12s %10s %11s %9s %12s %9s\n' "run" "areas" "customers" "time (s)" "rate" "peak (MB)"
for areas in 22000 220000; do
    for customers in 100000 1000000 10000000; do
        dir="$scale/profile-$areas-$customers"
        mkdir -p "$dir"
        for f in "$scale/areas-$areas"/blockgroups.* "$scale/customers-$customers"/customers.*; do
            ln -sf "$f" "$dir/"
        done
        row profile "$areas" "$customers" "$(measure profile "$build/bench/bench_profile" "$dir" 1 nopeer)" "$customers"
    done
done
for areas in 22000 220000 2200000; do
    row demographic "$areas" - "$(measure worker "$build/bench/bench_demographic" "$scale/areas-$areas" 1)" "$areas"
done
for areas in 22000 220000 2200000; do
    row household "$areas" - "$(measure join "$build/bench/bench_household" "$scale/areas-$areas" 1 nopeer)" "$areas"
done
echo "rates: customers per second for the profile, areas per second for the others"
