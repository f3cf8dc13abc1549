// Full searches on a thread of their own, so that the frames go on while
// one runs: a frame posts a search and a later frame takes its faces.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "common/threadSafety.h"
#include "plugins/blinkDetectorCpu/faceSearch.h"

namespace quilo::head::cpu {

class SearchWorker {
public:
    // The faces of one search, and the generation of the image size it
    // looked at.
    struct Result {
        std::vector<Found> faces;
        int64_t generation = 0;
    };

    // Starts the thread, which runs `search` (the worker's alone from now
    // until it is destroyed).
    explicit SearchWorker(FaceSearch& search);
    // Stops the thread (waiting for a search in progress) and joins it.
    ~SearchWorker();

    SearchWorker(const SearchWorker&) = delete;
    SearchWorker& operator=(const SearchWorker&) = delete;

    // Starts a search of a copy of `job.image`, as `job` says; false (and
    // nothing started) while the last search posted has not been taken.
    // Post and Take are for one thread, the frames'.
    bool Post(const SearchJob& job) QUILO_EXCLUDES(mutex_);
    // The faces of the search posted last, once it has ended; with `wait`,
    // waits for it to end. Nothing when no search was posted since the last
    // Take, or (without `wait`) while it runs. A search that threw has been
    // logged and found no faces; the worker takes the next one as usual.
    std::optional<Result> Take(bool wait) QUILO_EXCLUDES(mutex_);

private:
    void Loop() QUILO_EXCLUDES(mutex_);
    // The search of `job`; never throws.
    std::vector<Found> Search(const SearchJob& job) QUILO_EXCLUDES(mutex_);

    // The worker's alone: the frames' thread reaches it only through the job
    // and the result.
    FaceSearch& search_;
    // Guards the job, the result and the flags below; held only to hand
    // them over, never during a search.
    Mutex mutex_;
    std::condition_variable wake_;  // a job posted, or stop
    std::condition_variable done_;  // a search ended
    SearchJob job_ QUILO_GUARDED_BY(mutex_);
    bool jobPosted_ QUILO_GUARDED_BY(mutex_) = false;
    bool searching_ QUILO_GUARDED_BY(mutex_) = false;  // a job posted and its result not yet taken
    bool stop_ QUILO_GUARDED_BY(mutex_) = false;
    std::optional<Result> result_ QUILO_GUARDED_BY(mutex_);
    std::thread thread_;  // last: started when everything it uses exists
};

}  // namespace quilo::head::cpu
