#!/usr/bin/env bash
# Installs every build, test and run-time dependency from Debian 12's packages.
# Safe to run again: apt-get skips what is already installed.
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
  libopencv-objdetect-dev libopencv-calib3d-dev libopencv-dnn-dev opencv-data
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
