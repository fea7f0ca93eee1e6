#!/usr/bin/env bash
# Runs the whole test suite of a build made by scripts/setup.sh, then the
# same suite under AddressSanitizer + UBSan with the fuzz targets
# (scripts/test_asan.sh), in a build folder of its own. The thread stress
# test under ThreadSanitizer (scripts/test_tsan.sh) runs on demand: a third
# build of the library does not fit CI's time limit.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${MORVIK_BUILD:-$repo/build}
(cd "$build" && ctest --output-on-failure -j2 --timeout 1200)
bash "$repo/scripts/test_asan.sh"
