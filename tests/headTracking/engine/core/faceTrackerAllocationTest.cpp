// The face tracker's frames must not touch the heap: every list is reserved
// for the detector's face count when the tracker is made. This binary counts
// every global operator new of the process.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "headTracking/engine/core/faceTracker.h"
#include "tests/headTracking/engine/core/faceTrackerScript.h"

namespace {
std::atomic<long> allocations{0};

void* CountedMalloc(std::size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* CountedNew(std::size_t size) {
    if (void* p = CountedMalloc(size)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return CountedNew(size); }
void* operator new[](std::size_t size) { return CountedNew(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedMalloc(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedMalloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

using namespace quilo;
using namespace quilo::head;
using namespace quilo::head::script;

TEST(FaceTrackerAllocations, NoneFromTheFirstFrameOnWithinTheFaceCount) {
    FixedCountDetector detector(3);
    FaceTracker tracker(detector, FaceTracker::Configuration{});

    // Every path of a frame: priming, restart, association with new and lost
    // faces, coasting beside three candidates and alone, a rotation change.
    FaceDetector::Output three, threeMoved, threeFar, twoNearer, none;
    three.detections = {FaceAt({-100, 0, 600}), FaceAt({0, 0, 700}), FaceAt({100, 0, 900})};
    threeMoved.detections = {FaceAt({-90, 5, 600}), FaceAt({10, 0, 705}), FaceAt({95, -5, 890})};
    threeFar.detections = {FaceAt({-100, 0, 1200}), FaceAt({0, 0, 1300}), FaceAt({100, 0, 1400})};
    twoNearer.detections = {FaceAt({-100, 0, 500}), FaceAt({0, 0, 550})};
    struct Step {
        const FaceDetector::Output* output;
        int32_t rotation;
        float restartSignal;
    };
    std::vector<Step> script;
    for (int i = 0; i < 50; ++i) script.push_back({i % 2 ? &three : &threeMoved, 0, 0.0f});
    script.push_back({&threeFar, 0, 1.0f});
    for (int i = 0; i < 5; ++i) script.push_back({&twoNearer, 0, 0.0f});
    for (int i = 0; i < 10; ++i) script.push_back({&none, 0, 0.0f});
    for (int i = 0; i < 10; ++i) script.push_back({&three, 90, 0.0f});
    std::vector<ScriptFrame> frames;
    frames.reserve(script.size());
    for (size_t i = 0; i < script.size(); ++i) {
        frames.emplace_back(100.0 + 11.0 * static_cast<double>(i));
        frames.back().image.rotation = script[i].rotation;
    }
    std::vector<int64_t> faceCounts(script.size());

    const long before = allocations.load();
    for (size_t i = 0; i < script.size(); ++i) {
        tracker.Update(*script[i].output, frames[i], script[i].restartSignal);
        faceCounts[i] = tracker.faces().size;
    }
    EXPECT_EQ(allocations.load() - before, 0);

    // The script went through the paths it claims to.
    EXPECT_EQ(faceCounts[0], 0);
    EXPECT_EQ(faceCounts[49], 3);
    EXPECT_EQ(faceCounts[50], 4) << "three restarted tracks and the coasting main face";
    for (size_t i = 56; i < 66; ++i) EXPECT_EQ(faceCounts[i], 1) << "coasting alone, frame " << i;
    EXPECT_EQ(faceCounts[66], 0) << "primed again after the rotation change";
    EXPECT_EQ(faceCounts[67], 3);
}
