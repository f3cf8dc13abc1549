#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
# Explicit, since the main job's build turns the tests off in the same folder.
./scripts/build.sh -DQUILO_BUILD_TESTS=ON -DQUILO_BUILD_BENCHMARKS=ON -DQUILO_BUILD_TOOLS=ON
ctest --test-dir "${QUILO_BUILD_DIR:-build}" --output-on-failure --no-tests=error -j 2
