#!/bin/sh
# Configures and builds into build/.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPXCP_BUILD_GUI=ON >/dev/null
cmake --build "$root/build"
