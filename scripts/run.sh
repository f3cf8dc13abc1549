#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh -DQUILO_BUILD_TESTS=OFF -DQUILO_BUILD_BENCHMARKS=OFF
exec "${QUILO_BUILD_DIR:-build}/bin/quiloHeadTrackingShowConfiguration" "$@"
