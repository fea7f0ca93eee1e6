#!/usr/bin/env bash
# `morvik search` over an index of a million synthetic faces plus the faces
# of real photographs: the time to build the index, its size, and for each
# query photo the query time and the face found first.
#
#   bench/search_million.sh [PHOTOS_DIR [QUERY_PHOTO...]]
#
# PHOTOS_DIR (default: a folder of links to ../shared/testdata/people less
# obama2.jpg and biden2.jpg) is indexed with `morvik index` and added after
# the synthetic faces; the queries (default: those two photos) are searched
# three times each (the first loads the index). MORVIK_BUILD names the build
# folder, MORVIK_FACES the number of synthetic faces (1000000), MORVIK_WORK
# the scratch folder (/tmp/morvik_million). Needs about 3 GB of disk and
# 2 GB of memory.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${MORVIK_BUILD:-$repo/build}
work=${MORVIK_WORK:-/tmp/morvik_million}
count=${MORVIK_FACES:-1000000}
testdata=$repo/../shared/testdata
morvik=$build/cli/morvik
mkdir -p "$work"

photos=${1:-}
if [ -z "$photos" ]; then
  photos=$work/photos
  rm -rf "$photos"
  mkdir -p "$photos/obama" "$photos/biden"
  ln -s "$testdata/people/obama/obama.jpg" "$testdata/people/obama/obama3.jpg" "$photos/obama/"
  ln -s "$testdata/people/biden/biden.jpg" "$photos/biden/"
  set -- "$testdata/people/obama/obama2.jpg" "$testdata/people/biden/biden2.jpg"
else
  shift
fi

jsonl=$work/million.jsonl
echo "== $count synthetic faces and the faces of $photos"
"$morvik" index "$photos" --out "$work/real.jsonl" 2>/dev/null
"$build/bench/synthetic_index" "$count" > "$jsonl"
cat "$work/real.jsonl" >> "$jsonl"
rm -f "$jsonl.mvx"
ls -l "$jsonl" | awk '{printf "JSON lines: %.0f MB\n", $5 / 1e6}'

echo "== Building the index (first search)"
first=${1:-$testdata/people/obama/obama2.jpg}
/usr/bin/time -f "build and first search: %e s wall, %M KB peak resident" \
  "$morvik" search "$jsonl" "$first" --top 3 >/dev/null
ls -l "$jsonl.mvx" | awk -v n="$count" '{printf "index file: %.0f MB, %.0f bytes per face\n", $5 / 1e6, $5 / n}'

echo "== Queries"
for query in "$@"; do
  for run in 1 2 3; do
    /usr/bin/time -f "  whole command: %e s wall, %M KB peak resident" \
      "$morvik" search "$jsonl" "$query" --top 3 2>&1 | grep -v "config"
  done
done
