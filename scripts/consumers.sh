#!/usr/bin/env bash
# Builds and runs the consumer project twice: against an installed engine
# (find_package) and with the engine's sources as a subproject
# (add_subdirectory).
set -euo pipefail
cd "$(dirname "$0")/.."
work="${QUILO_CONSUMER_DIR:-build-consumers}"
rm -rf "$work"
cmake -S . -B "$work/engine" -DQUILO_BUILD_TESTS=OFF -DQUILO_BUILD_BENCHMARKS=OFF -DQUILO_BUILD_TOOLS=OFF
cmake --build "$work/engine" -j "$(nproc)"
cmake --install "$work/engine" --prefix "$work/prefix"

# Both ways, the CPU face detector plugin must come along beside the engine.
cmake -S tests/consumer -B "$work/package" -DCMAKE_PREFIX_PATH="$PWD/$work/prefix" \
  -DQUILO_CONSUMER_EXPECT_CPU_DETECTOR=ON
cmake --build "$work/package"
"$work/package/quiloConsumer"
"$work/package/quiloConsumerEarlierInterfaces"

cmake -S tests/consumer -B "$work/subdirectory" -DQUILO_CONSUMER_USE=subdirectory -DQUILO_SOURCE_DIR="$PWD" \
  -DQUILO_CONSUMER_EXPECT_CPU_DETECTOR=ON
cmake --build "$work/subdirectory" -j "$(nproc)"
"$work/subdirectory/quiloConsumer"
"$work/subdirectory/quiloConsumerEarlierInterfaces"
echo "consumers built and ran"
