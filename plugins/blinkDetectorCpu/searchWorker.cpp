#include "plugins/blinkDetectorCpu/searchWorker.h"

#include <exception>
#include <utility>

#include "common/log.h"

namespace quilo::head::cpu {

SearchWorker::SearchWorker(FaceSearch& search) : search_(search), thread_([this] { Loop(); }) {}

SearchWorker::~SearchWorker() {
    {
        MutexLock lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool SearchWorker::Post(const SearchJob& job) {
    {
        MutexLock lock(mutex_);
        if (searching_) return false;
        job.image.copyTo(job_.image);
        job_.inBetween = job.inBetween;
        job_.roll = job.roll;
        job_.normalise = job.normalise;
        job_.generation = job.generation;
        job_.followed = job.followed;
        jobPosted_ = true;
        searching_ = true;
    }
    wake_.notify_one();
    return true;
}

std::optional<SearchWorker::Result> SearchWorker::Take(bool wait) {
    MutexLock lock(mutex_);
    if (wait) {
        lock.Wait(done_, [this]() QUILO_REQUIRES(mutex_) { return !searching_ || result_.has_value(); });
    }
    if (!result_) return std::nullopt;
    std::optional<Result> taken = std::move(result_);
    result_.reset();
    searching_ = false;
    return taken;
}

std::vector<Found> SearchWorker::Search(const SearchJob& job) {
    // Nothing may leave the thread's function: that would end the host's
    // process. A failed search finds no faces, and the next one is tried anew.
    try {
        return search_.Run(job);
    } catch (const std::exception& e) {
        QUILO_LOG_ERROR("[BlinkDetectorCpu] Background face search failed: {}", e.what());
    } catch (...) {
        QUILO_LOG_ERROR("[BlinkDetectorCpu] Background face search failed: unknown exception");
    }
    return {};
}

void SearchWorker::Loop() {
    SearchJob job;
    MutexLock lock(mutex_);
    for (;;) {
        lock.Wait(wake_, [this]() QUILO_REQUIRES(mutex_) { return stop_ || jobPosted_; });
        if (stop_) return;
        std::swap(job, job_);
        jobPosted_ = false;
        lock.Unlock();
        Result result{Search(job), job.generation};
        lock.Lock();
        result_ = std::move(result);
        done_.notify_all();
    }
}

}  // namespace quilo::head::cpu
