#!/usr/bin/env bash
# Builds the library objects and the thread stress test with
# ThreadSanitizer in a folder of their own (clang) and runs the test there.
# Any reported race fails the run.
#
#   MORVIK_TSAN_BUILD  build folder (default: build-tsan in the repository)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${MORVIK_TSAN_BUILD:-$repo/build-tsan}
source "$repo/scripts/sanitizer_env.sh"

start=$SECONDS
echo "== ThreadSanitizer build in $build"
CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVIK_TSAN=ON -DMORVIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target tsan_tests
echo "ThreadSanitizer build: $((SECONDS - start)) s"

start=$SECONDS
echo "== Thread tests under ThreadSanitizer"
(cd "$build" && ctest --output-on-failure --timeout 2400)
echo "ThreadSanitizer run: $((SECONDS - start)) s"
