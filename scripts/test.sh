#!/bin/sh
# Checks the layering, installs what is needed, builds and runs every test.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/check-layers.sh"
"$root/scripts/install-deps.sh"
"$root/scripts/fetch-sample.sh"
"$root/scripts/build.sh"
cd "$root/build" && ctest --output-on-failure -j2
