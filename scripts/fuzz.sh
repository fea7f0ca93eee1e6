#!/usr/bin/env bash
# Runs each fuzz target of an ASan/UBSan build (scripts/test_asan.sh makes
# one) for a bounded time, from seed corpora written into the build folder.
# A crash, hang, leak, out-of-memory or sanitizer report fails the run.
#
#   fuzz.sh [BUILD_DIR]
#   MORVIK_FUZZ_SECONDS  time per target (default 45; twice that for images)
#   MORVIK_TESTDATA      test photographs (default ../shared/testdata)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build-asan}
seconds=${MORVIK_FUZZ_SECONDS:-45}
testdata=${MORVIK_TESTDATA:-$repo/../shared/testdata}
source "$repo/scripts/sanitizer_env.sh"

work=$build/fuzz
rm -rf "$work/seeds" "$work/artifacts" "$work/tmp"
mkdir -p "$work/artifacts" "$work/tmp"
targets=(fuzz_extract_faces_info fuzz_config_load fuzz_pico_cascade fuzz_options fuzz_landmark_model
         fuzz_pixel_geometry fuzz_cascade_file fuzz_index_file
         fuzz_yunet_model)
for t in "${targets[@]}"; do mkdir -p "$work/seeds/$t" "$work/corpus/$t"; done
"$build/tests/fuzz/make_seeds" "$work/seeds" "$testdata" "$repo" /usr/share/morvik/facefinder.dat

# The loaders under test read files: the targets write theirs here.
export TMPDIR=$work/tmp
summary=()
status=0
for t in "${targets[@]}"; do
  # Images get twice the time: their targets first load the landmark and
  # descriptor models, and inputs with a face are described.
  # The first input also loads those models, so a hang is an input that
  # takes minutes there.
  time_limit=$seconds
  hang=60
  if [ "$t" = fuzz_extract_faces_info ] || [ "$t" = fuzz_pixel_geometry ]; then
    time_limit=$((2 * seconds))
    hang=300
  fi
  # An index file is read in proportion to its size: one allocation far
  # beyond the largest seed is a size taken from the file unchecked.
  limits=()
  if [ "$t" = fuzz_index_file ]; then limits=(-malloc_limit_mb=64); fi
  echo "== $t for ${time_limit} s"
  log=$work/$t.log
  # -timeout: one input taking longer is a hang.
  if "$build/tests/fuzz/$t" -max_total_time="$time_limit" -timeout="$hang" -rss_limit_mb=4096 "${limits[@]}" \
       -print_final_stats=1 -artifact_prefix="$work/artifacts/$t-" \
       "$work/corpus/$t" "$work/seeds/$t" >"$log" 2>&1; then
    runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
    summary+=("$t: ${runs:-?} inputs in ${time_limit} s")
  else
    status=1
    summary+=("$t: FAILED (see $log)")
    tail -n 60 "$log"
  fi
done

echo "== Fuzzing"
printf '%s\n' "${summary[@]}"
exit $status
