// Uses of common/threadSafety.h that clang's analysis must accept and, each
// behind its QUILO_CASE_* switch, misuses it must reject; compiled by
// threadSafetyAnalysis.cmake, never linked.
#include <condition_variable>

#include "common/threadSafety.h"

namespace {

class Counter {
public:
    void Add() QUILO_EXCLUDES(mutex_) {
        quilo::MutexLock lock(mutex_);
        AddLocked();
        changed_.notify_all();
    }
    void AwaitNonZero() QUILO_EXCLUDES(mutex_) {
        quilo::MutexLock lock(mutex_);
        lock.Wait(changed_, [this]() QUILO_REQUIRES(mutex_) { return count_ > 0; });
    }
    int TakeAndAdd() QUILO_EXCLUDES(mutex_) {
        quilo::MutexLock lock(mutex_);
        const int taken = count_;
        lock.Unlock();
        Add();
        lock.Lock();
        return taken + count_;
    }

#if defined(QUILO_CASE_UNGUARDED_READ)
    int Read() const { return count_; }
#elif defined(QUILO_CASE_UNGUARDED_WRITE)
    void Reset() { count_ = 0; }
#elif defined(QUILO_CASE_WRITE_AFTER_UNLOCK)
    void Reset() {
        quilo::MutexLock lock(mutex_);
        lock.Unlock();
        count_ = 0;
    }
#elif defined(QUILO_CASE_CALL_WITHOUT_LOCK)
    void AddUnlocked() { AddLocked(); }
#elif defined(QUILO_CASE_CALL_EXCLUDED)
    void AddTwice() {
        quilo::MutexLock lock(mutex_);
        Add();
    }
#elif defined(QUILO_CASE_UNMARKED_PREDICATE)
    void AwaitZero() {
        quilo::MutexLock lock(mutex_);
        lock.Wait(changed_, [this] { return count_ == 0; });
    }
#endif

private:
    void AddLocked() QUILO_REQUIRES(mutex_) { ++count_; }

    mutable quilo::Mutex mutex_;  // guards count_
    int count_ QUILO_GUARDED_BY(mutex_) = 0;
    std::condition_variable changed_;
};

}  // namespace

// Keeps the class used, so that nothing is reported unused.
void QuiloThreadSafetyCases() {
    Counter counter;
    counter.Add();
    counter.AwaitNonZero();
    counter.TakeAndAdd();
}
