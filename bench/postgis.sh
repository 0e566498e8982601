#!/bin/sh
# The benchmarks of data kept in PostGIS, on the same synthetic block groups
# (220,000) and customers (1,000,000) as bench/run.sh, in a throw-away
# server (scripts/postgis-server.sh) stopped at the end:
#   - the customer profile (bench_profile, with its ogr2ogr peer) beside the
#     same point-in-polygon join done by PostGIS with ST_Intersects over
#     GiST indexes;
#   - the demographic worker reading the block groups from PostGIS (the
#     clause and extent run by the server) and writing its table there,
#     beside the same query run by psql into a table.
#   bench/postgis.sh [BUILD_DIR] [RUNS]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-3}
data="$root/out/bench"
[ -f "$data/blockgroups.shp" ] || "$build/bench/gen_blockgroups" "$data" 220000
[ -f "$data/customers.shp" ] || "$build/bench/gen_customers" "$data" 1000000

state=$(mktemp -d "${TMPDIR:-/tmp}/pxcp-bench-pg.XXXXXX")
trap '"$root/scripts/postgis-server.sh" stop "$state"; rm -rf "$state"' EXIT INT TERM
"$root/scripts/postgis-server.sh" start "$state" "$root/data/sample" >/dev/null
. "$state/env"
q() { psql -X -q -A -t -v ON_ERROR_STOP=1 "$@"; }
now() { date +%s.%N; }
best() {  # BEST SECONDS -> the smaller
  awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'
}

echo "== loading into PostGIS (not timed against anything)"
t0=$(now)
q -c "CREATE SCHEMA bench; CREATE SCHEMA bench_out"
for layer in blockgroups customers; do
  ogr2ogr -f PostgreSQL "PG:dbname=$PGDATABASE host=$PGHOST" "$data/$layer.shp" -nln "bench.$layer" \
    -lco GEOMETRY_NAME=geom -lco SPATIAL_INDEX=GIST $([ $layer = blockgroups ] && echo -nlt PROMOTE_TO_MULTI)
done
q -c "ANALYZE bench.blockgroups; ANALYZE bench.customers"
echo "loaded in $(awk -v a="$t0" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }') s"

echo "== customer profile"
"$build/bench/bench_profile" "$data" "$runs"
join="SELECT count(*), round(avg(b.totpop)::numeric, 1) FROM bench.customers c JOIN bench.blockgroups b ON ST_Intersects(b.geom, c.geom)"
fastest=""
for r in $(seq "$runs"); do
  t0=$(now)
  answer=$(q -F ' ' -c "$join")
  fastest=$(best "$fastest" "$(awk -v a="$t0" -v b="$(now)" 'BEGIN { print b - a }')")
done
echo "PostGIS ST_Intersects join: customers inside an area $(echo "$answer" | cut -d' ' -f1), average population $(echo "$answer" | cut -d' ' -f2)"
awk -v t="$fastest" -v runs="$runs" 'BEGIN { printf "PostGIS: %.3f s (best of %d), %.2f M points/s\n", t, runs, 1 / t }'

echo "== demographic selection from PostGIS"
where=" (AGE2534>=(15.00/100)*TOTPOP AND AGE2534<=(20.00/100)*TOTPOP) AND  (INC50K>=200.00) "
"$build/bench/bench_postgis_demographic" "PG:dbname=$PGDATABASE host=$PGHOST active_schema=bench" "$where" \
  -93 31 -80 39 "$runs" | tee "$state/worker.txt"
peer="BEGIN; DROP TABLE IF EXISTS bench_out.peer;
CREATE TABLE bench_out.peer AS SELECT geoid, totpop, age2534, inc50k, geom FROM bench.blockgroups
  WHERE ($where) AND ST_Intersects(geom, ST_MakeEnvelope(-93, 31, -80, 39, 4269));
CREATE INDEX ON bench_out.peer USING GIST (geom); COMMIT;"
fastest=""
for r in $(seq "$runs"); do
  t0=$(now)
  q -c "$peer"
  fastest=$(best "$fastest" "$(awk -v a="$t0" -v b="$(now)" 'BEGIN { print b - a }')")
done
echo "psql, same query into a table: $(q -c 'SELECT count(*) FROM bench_out.peer') areas"
worker=$(sed -n 's/^worker on PostGIS: \([0-9.]*\) s.*/\1/p' "$state/worker.txt")
awk -v t="$fastest" -v w="$worker" -v runs="$runs" \
  'BEGIN { printf "psql: %.3f s (best of %d)\nratio worker/psql: %.2f\n", t, runs, w / t }'
