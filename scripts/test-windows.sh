#!/usr/bin/env bash
# Cross-builds the engine, the console program, the CPU face detector plugin
# and their tests for 64-bit Windows with mingw-w64 into build-win/ (or
# $QUILO_WINDOWS_BUILD_DIR), and runs the tests under Wine in a Wine prefix of
# its own inside that folder.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh --windows
build=${QUILO_WINDOWS_BUILD_DIR:-build-win}
# The CPU face detector's OpenCV and dlib, cross-built once per machine from
# Debian's sources (OpenCV_DIR=..., dlib_DIR=...).
deps_started=$(date +%s)
eval "$(./scripts/windows-deps.sh)"
echo "Windows OpenCV and dlib ready in $(( $(date +%s) - deps_started )) s"
# Optimised without debug information: with the header-only logging library,
# mingw's debug information makes every file take about four times as long.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DQUILO_BUILD_TESTS=ON -DQUILO_BUILD_BENCHMARKS=OFF -DQUILO_BUILD_TOOLS=OFF \
  -DQUILO_BUILD_CPU_DETECTOR=ON -DOpenCV_DIR="$OpenCV_DIR" -Ddlib_DIR="$dlib_DIR" > "$build.configure.log" 2>&1 \
  || { cat "$build.configure.log"; exit 1; }
# Only the programs of the tests that run here.
cmake --build "$build" -j "$(nproc)" --target test_quiloHeadTrackingEngine_capi quiloPresenceTests \
  quiloRecordsTests quiloFrameAdapterTests quiloFrameAdapterConcurrencyTests quiloCameraFrameTests \
  quiloRealsenseUnavailableTests quiloKalmanFilterTests quiloFaceTrackerTests \
  quiloFaceTrackerAllocationTests quiloDriverTests quiloCommonTests quiloPluginTests \
  quiloRealsenseCameraTests quiloBlinkDetectorTests quiloEngineTests quiloCapiTests quiloTestSupportTests \
  quiloHeadTrackingBlinkDetectorcpu quiloBlinkDetectorCpuTests quiloBlinkDetectorCpuPluginTests \
  quiloBlinkDetectorCpuAccuracyTests quiloBlinkDetectorCpuRealDataTests quiloBlinkDetectorCpuConcurrencyTests \
  quiloBlinkDetectorCpuUnloadTests quiloBlinkDetectorCpuHardCaseTests

# Quiet, private and non-interactive: no debug channels, no prompts to install
# Mono or Gecko, nothing written to the user's own ~/.wine.
export WINEDEBUG=-all
export WINEPREFIX=$PWD/$build/wineprefix
export WINEDLLOVERRIDES="mscoree,mshtml="
wineboot --init > "$build/wineboot.log" 2>&1 || { cat "$build/wineboot.log"; exit 1; }
status=0
ctest --test-dir "$build" --output-on-failure --no-tests=error -j 2 || status=$?
wineserver -w  # the prefix's server ends with its last program
exit $status
