#!/usr/bin/env bash
# Builds the Debian package from the build tree into a scratch folder and
# checks that it carries the library, the headers, the tool and the package
# files for other projects.  Usage: deb_test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch" >/dev/null)
deb=$(find "$scratch" -maxdepth 1 -name 'morvik_*.deb' | head -n 1)
test -n "$deb"
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/morvik ./usr/lib/libmorvik.so.3 ./usr/include/morvik/morvik_c.h \
            ./usr/lib/pkgconfig/morvik.pc ./usr/lib/cmake/morvik/morvikConfig.cmake \
            ./usr/lib/python3/dist-packages/morvik/__init__.py; do
  grep -q " $path" <<<"$contents" || { echo "missing $path in $deb" >&2; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libopencv
echo "$(basename "$deb"): ok"
