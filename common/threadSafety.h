// Locks the compiler checks. Built with clang and -Wthread-safety, a member
// marked QUILO_GUARDED_BY(m) may be read or written only with m held, a
// function marked QUILO_REQUIRES(m) called only with m held, and one marked
// QUILO_EXCLUDES(m) only without it. Other compilers see empty macros.
//
// std::mutex carries no such marks in libstdc++, so guarded state is locked
// through quilo::Mutex and quilo::MutexLock, which are std::mutex and
// std::unique_lock with the marks added:
//
//   mutable Mutex mutex_;                       // guards count_
//   int count_ QUILO_GUARDED_BY(mutex_) = 0;
//
//   void Add() QUILO_EXCLUDES(mutex_) {
//       MutexLock lock(mutex_);
//       ++count_;
//       changed_.notify_all();
//   }
//   void AwaitNonZero() QUILO_EXCLUDES(mutex_) {
//       MutexLock lock(mutex_);
//       lock.Wait(changed_, [this]() QUILO_REQUIRES(mutex_) { return count_ > 0; });
//   }
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define QUILO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUILO_THREAD_ANNOTATION(x)
#endif

// On a class: its objects are locks (named `name` in the compiler's messages).
#define QUILO_CAPABILITY(name) QUILO_THREAD_ANNOTATION(capability(name))
// On a class: its objects hold a lock for their lifetime.
#define QUILO_SCOPED_CAPABILITY QUILO_THREAD_ANNOTATION(scoped_lockable)
// On a member: read and written only with the lock held.
#define QUILO_GUARDED_BY(lock) QUILO_THREAD_ANNOTATION(guarded_by(lock))
// On a pointer member: what it points to is read and written only with the lock held.
#define QUILO_PT_GUARDED_BY(lock) QUILO_THREAD_ANNOTATION(pt_guarded_by(lock))
// On a lock: the order in which it is taken with the others.
#define QUILO_ACQUIRED_BEFORE(...) QUILO_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define QUILO_ACQUIRED_AFTER(...) QUILO_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
// On a function: called with the locks held, and returns with them held.
#define QUILO_REQUIRES(...) QUILO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// On a function: called without the locks held (it takes them itself).
#define QUILO_EXCLUDES(...) QUILO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// On a function: takes, gives up or tries to take the locks.
#define QUILO_ACQUIRE(...) QUILO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define QUILO_RELEASE(...) QUILO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define QUILO_TRY_ACQUIRE(...) QUILO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// On a function: returns a reference to the lock named.
#define QUILO_RETURN_CAPABILITY(lock) QUILO_THREAD_ANNOTATION(lock_returned(lock))
// On a function the analysis cannot follow; say why beside it.
#define QUILO_NO_THREAD_SAFETY_ANALYSIS QUILO_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace quilo {

// std::mutex, as a lock the analysis knows.
class QUILO_CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() QUILO_ACQUIRE() { mutex_.lock(); }
    void unlock() QUILO_RELEASE() { mutex_.unlock(); }
    bool try_lock() QUILO_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

private:
    friend class MutexLock;
    std::mutex mutex_;
};

// std::unique_lock of a Mutex: holds it from construction to destruction,
// except while Wait lets a condition variable release it, or between
// Unlock and Lock.
class QUILO_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) QUILO_ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~MutexLock() QUILO_RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // Gives the lock up early, e.g. before calling out; Lock takes it again.
    void Unlock() QUILO_RELEASE() { lock_.unlock(); }
    void Lock() QUILO_ACQUIRE() { lock_.lock(); }

    // Waits until `ready()` holds, with the lock released while waiting and
    // held whenever `ready` runs. Mark the predicate QUILO_REQUIRES(the mutex).
    template <class Predicate>
    void Wait(std::condition_variable& condition, Predicate ready) {
        condition.wait(lock_, ready);
    }
    // As Wait, giving up after `timeout`; returns `ready()`.
    template <class Rep, class Period, class Predicate>
    bool WaitFor(std::condition_variable& condition, std::chrono::duration<Rep, Period> timeout, Predicate ready) {
        return condition.wait_for(lock_, timeout, ready);
    }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace quilo
