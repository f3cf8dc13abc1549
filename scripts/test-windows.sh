#!/usr/bin/env bash
# Cross-builds the engine, the console program and their tests for 64-bit
# Windows with mingw-w64 into build-win/ (or $QUILO_WINDOWS_BUILD_DIR), and the
# CPU face detector plugin, the replay tools and the C example with their tests
# into build-win-detector/, and runs the tests under Wine in a Wine prefix of
# its own inside the first folder. The Windows replay is compared with the
# Linux build's in build/ (or $QUILO_BUILD_DIR), which is built as needed.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh --windows
build=${QUILO_WINDOWS_BUILD_DIR:-build-win}
# Optimised without debug information: with the header-only logging library,
# mingw's debug information makes every file take about four times as long.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DQUILO_BUILD_TESTS=ON -DQUILO_BUILD_BENCHMARKS=OFF -DQUILO_BUILD_TOOLS=OFF -DQUILO_BUILD_CPU_DETECTOR=OFF \
  > "$build.configure.log" 2>&1 \
  || { cat "$build.configure.log"; exit 1; }
# Only the programs of the tests that run here.
cmake --build "$build" -j "$(nproc)" --target test_quiloHeadTrackingEngine_capi quiloPresenceTests \
  quiloRecordsTests quiloFrameAdapterTests quiloFrameAdapterConcurrencyTests quiloCameraFrameTests \
  quiloRealsenseUnavailableTests quiloKalmanFilterTests quiloFaceTrackerTests \
  quiloFaceTrackerAllocationTests quiloDriverTests quiloCommonTests quiloPluginTests \
  quiloRealsenseCameraTests quiloBlinkDetectorTests quiloEngineTests quiloCapiTests quiloTestSupportTests \
  quiloEyePredictionTests

# Quiet, private and non-interactive: no debug channels, no prompts to install
# Mono or Gecko, nothing written to the user's own ~/.wine. The
# detector build runs a Windows program too, to render the replay sample.
export WINEDEBUG=-all
export WINEPREFIX=$PWD/$build/wineprefix
export WINEDLLOVERRIDES="mscoree,mshtml="
wineboot --init > "$build/wineboot.log" 2>&1 || { cat "$build/wineboot.log"; exit 1; }

# The CPU face detector and the tools in a build of their own: Windows looks
# for a DLL in the program's own folder first, so beside the test programs
# above a real plugin would be found by the tests of plugin discovery, which
# expect only theirs. Their OpenCV and dlib are cross-built once per machine
# from Debian's sources.
deps_started=$(date +%s)
eval "$(./scripts/windows-deps.sh)"  # OpenCV_DIR=..., dlib_DIR=...
echo "Windows OpenCV and dlib ready in $(( $(date +%s) - deps_started )) s"
# The Linux replay tool and its sample, which the Windows replay must match.
native=${QUILO_BUILD_DIR:-build}
cmake -S . -B "$native" > "$native.configure.log" 2>&1 || { cat "$native.configure.log"; exit 1; }
cmake --build "$native" -j "$(nproc)" --target quiloHeadTrackingReplay quiloReplaySample
native=$(cd "$native" && pwd)
detector=$build-detector
cmake -S . -B "$detector" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DQUILO_BUILD_TESTS=ON -DQUILO_BUILD_BENCHMARKS=OFF -DQUILO_BUILD_TOOLS=ON -DQUILO_BUILD_CPU_DETECTOR=ON \
  -DOpenCV_DIR="$OpenCV_DIR" -Ddlib_DIR="$dlib_DIR" -DQUILO_NATIVE_BUILD_DIR="$native" \
  > "$detector.configure.log" 2>&1 || { cat "$detector.configure.log"; exit 1; }
cmake --build "$detector" -j "$(nproc)" --target quiloHeadTrackingBlinkDetectorcpu quiloBlinkDetectorCpuTests \
  quiloBlinkDetectorCpuPluginTests quiloBlinkDetectorCpuAccuracyTests quiloBlinkDetectorCpuRealDataTests \
  quiloBlinkDetectorCpuConcurrencyTests quiloBlinkDetectorCpuUnloadTests quiloBlinkDetectorCpuHardCaseTests \
  quiloHeadTrackingReplay quiloHeadTrackingMakeSample quiloReplaySample quiloHeadTrackingRecord \
  quiloHeadTrackingShowConfiguration quiloPushSequence

status=0
ctest --test-dir "$build" --output-on-failure --no-tests=error -j 2 || status=$?
ctest --test-dir "$detector" --output-on-failure --no-tests=error -j 2 \
  -R '^(quiloBlinkDetectorCpu|quiloReplayMatchesLinux|quiloPushSequenceExample)' || status=$?
wineserver -w  # the prefix's server ends with its last program
exit $status
