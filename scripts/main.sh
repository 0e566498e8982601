#!/bin/sh
# Installs what is needed, builds and runs the main job on the sample data.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/fetch-sample.sh"
"$root/scripts/build.sh"
out="$root/out"
mkdir -p "$out"
"$root/build/plexa" levels --config "$root/data/nc.xml"
"$root/build/plexa" map --config "$root/data/nc.xml" --png "$out/nc-counties.png"
# Counties where sudden infant deaths were at least 0.3 % of births, 1974-78.
rm -rf "$out/analyses/High_SIDS_rate"
"$root/build/plexa" demographic --config "$root/data/nc.xml" --analyses "$out/analyses" \
  --level Counties --dmq "$root/data/high-sids.dmq" --name "High SIDS rate" --png "$out/high-sids.png"
# The average profile of the ZIP-code centres as customers over the counties.
"$root/build/plexa" profile --config "$root/data/nc.xml" --customers "$root/data/sample/zipcodes.shp" --level Counties --pdf "$out/profile.pdf" --dbf "$out/profile.dbf"
# Where young families make up at least 20 % of the households, through the
# local household-data service (waiting, then submitting and linking later).
"$root/scripts/household-demo.sh" "$root/build" "$root/data/nc.xml" "$out/analyses" "$out/young-families.png"
