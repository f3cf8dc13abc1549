#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the engine, the CPU face detector
# and the tools, and runs the main job: the replay of the bundled sample
# sequence (arguments are passed to the replay tool).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh -DQUILO_BUILD_TESTS=OFF -DQUILO_BUILD_BENCHMARKS=OFF -DQUILO_BUILD_TOOLS=ON
exec "${QUILO_BUILD_DIR:-build}/bin/quiloHeadTrackingReplay" "$@"
