#!/bin/sh
# Starts the local household-data service on a free port, runs the household
# way on the sample (waiting, then without waiting and linking the fetched
# table later), and stops the service.
#   household-demo.sh BUILD_DIR CONFIG ANALYSES [PNG]
set -e
build=$1 config=$2 analyses=$3 png=$4
log=$(mktemp)
"$build/plexa-hhd" --port 0 --job-seconds 0 >"$log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; rm -f "$log"' EXIT
for i in 1 2 3 4 5 6 7 8 9 10; do
  grep -q listening "$log" && break
  sleep 0.2
done
PLEXA_HOUSEHOLD_SERVICE=$(sed -n 's/^listening on //p' "$log" | head -1)
export PLEXA_HOUSEHOLD_SERVICE
[ -n "$PLEXA_HOUSEHOLD_SERVICE" ] || { echo "the household-data service did not start" >&2; exit 1; }
# The credential store and registry of this run stay out of the user's own.
XDG_CONFIG_HOME=$(mktemp -d)
PLEXA_REGISTRY=$XDG_CONFIG_HOME/registry.ini
export XDG_CONFIG_HOME PLEXA_REGISTRY
# The demo account of the local service; later runs use the remembered login.
PLEXA_PASSWORD=demo
export PLEXA_PASSWORD
root=$(cd "$(dirname "$0")/.." && pwd)
rm -rf "$analyses/Young_families" "$analyses/Young_families_later"
"$build/plexa" household --config "$config" --analyses "$analyses" --level Counties \
  --hhq "$root/data/young-families.hhq" --name "Young families" --user demo ${png:+--png "$png"}
unset PLEXA_PASSWORD
out=$("$build/plexa" household --config "$config" --analyses "$analyses" --level Counties \
  --hhq "$root/data/young-families.hhq" --name "Young families later" --no-wait)
echo "$out"
job=$(echo "$out" | sed -n 's/^job id: \([A-Z0-9]*\).*/\1/p')
"$build/plexa" fetch-result --job "$job" --dbf "$analyses/Young_families_later/tmp.dbf"
"$build/plexa" household --config "$config" --analyses "$analyses" --reopen "Young families later" \
  --link "$analyses/Young_families_later/tmp.dbf"
rm -rf "$XDG_CONFIG_HOME"
