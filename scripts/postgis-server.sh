#!/bin/sh
# A throw-away PostgreSQL/PostGIS server for the tests and the bench: a
# cluster in a temporary folder that listens on a Unix socket there only,
# with the sample layers loaded into the schema "demo" of the database
# "plexa".
#
#   postgis-server.sh start STATE_DIR [SAMPLE_DIR]   start it, load the sample
#   postgis-server.sh stop  STATE_DIR                stop it, remove its folder
#
# STATE_DIR receives "env" (PGHOST, PGPORT, PGDATABASE, PGUSER and PGPASSFILE
# to source) and "pgpass" (the login of the role "analyst", which signs in
# with a password like a user of a shared server; the password is made up
# at start and kept only there). The server logs every statement to
# "server.log" in the cluster folder; "env" names it as PXCP_PG_LOG.
# initdb refuses to run as root: as root the cluster belongs to the user
# postgres.
set -eu

cmd=${1:-}
state=${2:-}
[ -n "$cmd" ] && [ -n "$state" ] || { echo "usage: $0 start|stop STATE_DIR [SAMPLE_DIR]" >&2; exit 2; }

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "postgis-server: PostgreSQL is not installed (run scripts/install-deps.sh)" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

stop() {
  [ -f "$state/cluster" ] || return 0
  dir=$(cat "$state/cluster")
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  rm -f "$state/cluster" "$state/env" "$state/pgpass"
}

case "$cmd" in
stop)
  stop
  exit 0
  ;;
start) ;;
*) echo "usage: $0 start|stop STATE_DIR [SAMPLE_DIR]" >&2; exit 2 ;;
esac

sample=${3:-$(cd "$(dirname "$0")/.." && pwd)/data/sample}
mkdir -p "$state"
stop  # a server a killed run left behind
dir=$(mktemp -d "${TMPDIR:-/tmp}/pxcp-pg.XXXXXX")
echo "$dir" >"$state/cluster"
trap 'status=$?; [ $status -eq 0 ] || stop; exit $status' EXIT
chmod 0755 "$dir"
[ "$(id -u)" -eq 0 ] && chown postgres "$dir"

as_owner "$bin/initdb" -D "$dir/data" -U plexa_admin -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
  { cat "$dir/initdb.log" >&2; exit 1; }
# The administrator (who loads the sample) is trusted on the socket;
# everyone else gives a password.
as_owner sh -c "printf 'local all plexa_admin trust\nlocal all all scram-sha-256\n' >'$dir/data/pg_hba.conf'"
as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
  -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c port=5432 -c fsync=off -c log_statement=all" \
  start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }

password=$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')
admin() { "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p 5432 -U plexa_admin "$@"; }
# The server logs every statement; the one that holds the password is kept
# out of the log.
admin -d postgres <<SQL
SET log_statement = 'none';
CREATE ROLE analyst LOGIN PASSWORD '$password';
CREATE DATABASE plexa OWNER analyst;
SQL
admin -d plexa <<SQL
CREATE EXTENSION postgis;
CREATE SCHEMA demo AUTHORIZATION analyst;
SQL

umask 077
printf '%s:5432:*:analyst:%s\n' "$dir" "$password" >"$state/pgpass"
cat >"$state/env" <<ENV
PGHOST=$dir
PGPORT=5432
PGDATABASE=plexa
PGUSER=analyst
PGPASSFILE=$state/pgpass
PXCP_PG_LOG=$dir/server.log
export PGHOST PGPORT PGDATABASE PGUSER PGPASSFILE PXCP_PG_LOG
ENV

# The sample layers, as an analyst would load them.
load() {
  PGPASSFILE="$state/pgpass" ogr2ogr -f PostgreSQL "PG:host=$dir port=5432 dbname=plexa user=analyst" "$1" \
    -nln "demo.$2" -lco GEOMETRY_NAME=geom -lco FID=gid -overwrite $3
}
load "$sample/nc.shp" nc "-nlt PROMOTE_TO_MULTI"
load "$sample/zipcodes.shp" zipcodes ""
load "$sample/boston_tracts.shp" boston_tracts "-nlt PROMOTE_TO_MULTI"
# A table without shapes, for the checks that refuse one as a layer.
admin -d plexa -c "CREATE TABLE demo.notes (id integer, note text); ALTER TABLE demo.notes OWNER TO analyst;"
echo "PostGIS test server on $dir"
