#include "plugins/blinkDetectorCpu/searchWorker.h"

#include <utility>

namespace quilo::head::cpu {

SearchWorker::SearchWorker(FaceSearch& search)
    : search_(search), thread_([this] { Loop(); }) {}

SearchWorker::~SearchWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool SearchWorker::Post(const SearchJob& job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
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
    std::unique_lock<std::mutex> lock(mutex_);
    if (wait) done_.wait(lock, [&] { return !searching_ || result_.has_value(); });
    if (!result_) return std::nullopt;
    std::optional<Result> taken = std::move(result_);
    result_.reset();
    searching_ = false;
    return taken;
}

void SearchWorker::Loop() {
    SearchJob job;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || jobPosted_; });
        if (stop_) return;
        std::swap(job, job_);
        jobPosted_ = false;
        lock.unlock();
        Result result{search_.Run(job), job.generation};
        lock.lock();
        result_ = std::move(result);
        done_.notify_all();
    }
}

}  // namespace quilo::head::cpu
