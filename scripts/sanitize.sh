#!/bin/sh
# Builds the library, the program and the tests with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan (without the Qt program) and
# runs every test there. Any finding (memory error, leak, undefined
# behaviour) fails the test it happens in, and so the script.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/fetch-sample.sh"
build="$root/build-asan"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPXCP_BUILD_GUI=OFF -DPXCP_SANITIZE=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build" && ctest --output-on-failure -j2
