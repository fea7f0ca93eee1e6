#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds hosts against that copy:
# with find_package(morvik), with pkg-config (a C host, the README's C example,
# and a C++ host of every installed header with nothing but pkg-config's
# flags), and runs the installed tool and Python package.
# Usage: consumer_test.sh BUILD_DIR PYTHON3 TESTDATA_DIR
set -euo pipefail
build=$1
python=$2
testdata=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libmorvik.so.3' | head -n 1)")
export LD_LIBRARY_PATH=$libdir

cmake -S "$here/consumer" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
"$scratch/cmake/cmake_consumer"
"$scratch/cmake/cmake_every_header"

export PKG_CONFIG_PATH=$libdir/pkgconfig
grep -q "^prefix=$prefix\$" "$libdir/pkgconfig/morvik.pc"
cc -std=c11 -Wall -Wextra -pedantic -Werror "$here/consumer/consumer.c" -o "$scratch/c_consumer" \
  $(pkg-config --cflags --libs morvik)
"$scratch/c_consumer"
for header in $(cd "$prefix/include" && ls morvik/*.h | LC_ALL=C sort); do
  echo "#include <$header>"
done > "$scratch/every_header.cpp"
cat "$here/consumer/every_header.cpp.in" >> "$scratch/every_header.cpp"
c++ -Wall -Wextra "$scratch/every_header.cpp" -o "$scratch/every_header" $(pkg-config --cflags --libs morvik)
"$scratch/every_header"

# The README's C example, exactly as written there, built as it says.
sed -n '/^```c$/,/^```$/p' "$here/../../README.md" | sed '1d;$d' >"$scratch/faces.c"
grep -q MvExtractFacesPixels "$scratch/faces.c"
cc -std=c11 -Wall -Wextra -pedantic -Werror "$scratch/faces.c" -o "$scratch/readme_faces" \
  $(pkg-config --cflags --libs morvik)
"$scratch/readme_faces" "$testdata/faces/two_people.jpg" >"$scratch/readme_faces.out"
cat "$scratch/readme_faces.out"
test "$(grep -c '^face [0-9]*: ' "$scratch/readme_faces.out")" -eq 2
grep -q '^distance [0-9.]*: different people$' "$scratch/readme_faces.out"
status=0
"$scratch/readme_faces" "$testdata/README.md" 2>/dev/null || status=$?
test "$status" -eq 2

env -u LD_LIBRARY_PATH "$prefix/bin/morvik" version
site=$(dirname "$(dirname "$(find "$prefix" -path '*dist-packages/morvik/__init__.py' | head -n 1)")")
PYTHONPATH=$site MORVIK_LIBRARY=$libdir/libmorvik.so.3 \
  "$python" -c 'import morvik; print("python package: morvik %d.%d" % morvik.version()[:2])'
# The result codes and finder bits come from the file the install wrote from
# morvik_c.h (without it the import above fails).
test -s "$site/morvik/_c_header.py"
