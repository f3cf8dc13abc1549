#!/usr/bin/env bash
# Runs the CPU face detector's benchmark twice on this machine: the Linux build
# and the Windows build under Wine, one after the other, for a side-by-side
# comparison. Builds both as needed: the Linux one in build/ (or
# $QUILO_BUILD_DIR), the Windows one in build-win-bench/ (or
# $QUILO_WINDOWS_BUILD_DIR-bench). Extra arguments go to both benchmark runs,
# e.g. --benchmark_filter=BM_FullDetection --benchmark_repetitions=5.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh --windows
eval "$(./scripts/windows-deps.sh --benchmark)"  # OpenCV_DIR, dlib_DIR, benchmark_DIR

native=${QUILO_BUILD_DIR:-build}
cmake -S . -B "$native" -DQUILO_BUILD_BENCHMARKS=ON > "$native.configure.log" 2>&1 \
  || { cat "$native.configure.log"; exit 1; }
cmake --build "$native" -j "$(nproc)" --target quiloBlinkDetectorCpuBench

windows=${QUILO_WINDOWS_BUILD_DIR:-build-win}-bench
cmake -S . -B "$windows" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DQUILO_BUILD_TESTS=ON -DQUILO_BUILD_BENCHMARKS=ON -DQUILO_BUILD_TOOLS=OFF -DQUILO_BUILD_CPU_DETECTOR=ON \
  -DOpenCV_DIR="$OpenCV_DIR" -Ddlib_DIR="$dlib_DIR" -Dbenchmark_DIR="$benchmark_DIR" \
  > "$windows.configure.log" 2>&1 || { cat "$windows.configure.log"; exit 1; }
cmake --build "$windows" -j "$(nproc)" --target quiloBlinkDetectorCpuBench quiloHeadTrackingBlinkDetectorcpu

echo "== Linux"
"$native/bin/quiloBlinkDetectorCpuBench" "$@"

echo "== Windows under Wine"
export WINEDEBUG=-all
export WINEPREFIX=$PWD/$windows/wineprefix
export WINEDLLOVERRIDES="mscoree,mshtml="
runtime=""
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  runtime+="Z:$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)");"
done
WINEPATH="${runtime}Z:$PWD/$windows/bin" wine "$windows/bin/quiloBlinkDetectorCpuBench.exe" "$@"
wineserver -w
