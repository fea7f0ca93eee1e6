#!/usr/bin/env bash
# Runs the whole test suite of a build made by scripts/setup.sh.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${MORVIK_BUILD:-$repo/build}
cd "$build"
ctest --output-on-failure -j2 --timeout 1200
