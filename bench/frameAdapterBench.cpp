// The frame adapter's costs per frame: OnFrame with polling (one deep copy and
// a publication) and GetFrame (one deep copy under the lock).
#include <benchmark/benchmark.h>

#include "headTracking/common/frameAdapter.h"
#include "tests/support/frameFill.h"

namespace {

// The argument is a FilledFrame sequence: 3 gives 1 face, 4 raw faces and 4
// detections; 2 gives 3 of each.
void FrameAdapterOnFrame(benchmark::State& state) {
    quilo::head::FrameAdapter adapter(nullptr, true);
    const quilo::test::FilledFrame frame(static_cast<int>(state.range(0)));
    for (auto _ : state) adapter.OnFrame(frame);
}
BENCHMARK(FrameAdapterOnFrame)->Arg(3)->Arg(2);

void FrameAdapterGetFrame(benchmark::State& state) {
    quilo::head::FrameAdapter adapter(nullptr, true);
    adapter.OnFrame(quilo::test::FilledFrame(static_cast<int>(state.range(0))));
    for (auto _ : state) benchmark::DoNotOptimize(adapter.GetFrame());
}
BENCHMARK(FrameAdapterGetFrame)->Arg(3)->Arg(2);

}  // namespace

BENCHMARK_MAIN();
