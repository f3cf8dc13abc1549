#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $QUILO_BUILD_DIR).
# Extra arguments go to cmake's configure step; $QUILO_BUILD_TARGET, when set,
# builds that one target only.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILO_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > "$build.configure.log" 2>&1 \
  || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j "$(nproc)" ${QUILO_BUILD_TARGET:+--target "$QUILO_BUILD_TARGET"}
