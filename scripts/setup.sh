#!/usr/bin/env bash
# Sets up a Debian 12 machine for morvik: packages, build, install, and the
# data directory with the models and config.json. Safe to run again.
#
#   MORVIK_MODELS   folder with the four model files Debian does not package
#                   (default: ../shared/models beside the repository)
#   MORVIK_DATA     data directory (default: /usr/share/morvik)
#   MORVIK_BUILD    build directory (default: build in the repository)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
models=${MORVIK_MODELS:-$repo/../shared/models}
data=${MORVIK_DATA:-/usr/share/morvik}
build=${MORVIK_BUILD:-$repo/build}

packages=(build-essential cmake pkg-config ccache libopencv-dev libdlib-dev libboost-dev libfaiss-dev libxxhash-dev
          libopenblas-dev libgtest-dev libbenchmark-dev opencv-data libdlib-data
          python3 python3-numpy dpkg-dev file
          # the Python package: pip installs into venvs, the Dask indexer
          python3-venv python3-pip python3-setuptools python3-dask python3-distributed
          # PIL images given to the Python package, in its tests
          python3-pil
          # clang with its sanitizer and libFuzzer runtimes: the instrumented
          # builds that scripts/test.sh makes beside the normal one
          clang libclang-rt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# ccache keys objects by paths relative to the folder above the checkout, so
# that a clone elsewhere (CI's) reuses what an earlier build compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$repo")}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
echo "Building in $build"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2
cmake --install "$build" --prefix /usr/local >/dev/null
ldconfig

echo "Filling $data"
install -d "$data"
install -m 644 /usr/share/opencv4/lbpcascades/lbpcascade_frontalface.xml "$data/"
install -m 644 /usr/share/opencv4/haarcascades/haarcascade_frontalface_alt.xml "$data/"
install -m 644 /usr/share/opencv4/haarcascades/haarcascade_eye.xml "$data/"
install -m 644 /usr/share/dlib/shape_predictor_68_face_landmarks.dat "$data/"
for f in dlib_face_recognition_resnet_model_v1.dat mmod_human_face_detector.dat facefinder.dat \
         libfacedetection_yunet.bin; do
  if [ ! -f "$models/$f" ]; then
    echo "Missing model file $models/$f (set MORVIK_MODELS to the folder that holds it)" >&2
    exit 1
  fi
  install -m 644 "$models/$f" "$data/"
done
install -m 644 "$repo/data/config.json" "$data/config.json"
echo "Set-up done"
