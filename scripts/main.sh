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
"$root/build/plexa" wizard --config "$root/data/nc.xml" --analyses "$out/analyses" --script "$root/data/geography-only.script" || true
