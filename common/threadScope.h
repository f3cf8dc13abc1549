// Which objects the calling thread is working inside of.
//
// A callback into the host runs on a thread that is already inside some of our
// objects (a camera delivering a frame, an engine processing it). When the
// host calls back into one of those objects from there, the object must
// refuse rather than wait for itself. A ThreadScope marks the thread as
// inside `owner` for the scope's life; IsInside asks about the calling thread
// only, so no lock is needed. Scopes nest, also for different owners.
#pragma once

namespace quilo {

// `Tag` keeps the scopes of unrelated kinds of owners apart.
template <typename Tag>
class ThreadScope {
public:
    explicit ThreadScope(const void* owner) : owner_(owner), outer_(innermost_) { innermost_ = this; }
    ~ThreadScope() { innermost_ = outer_; }

    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;

    // True when the calling thread is inside a scope of `owner`.
    static bool IsInside(const void* owner) {
        for (const ThreadScope* scope = innermost_; scope != nullptr; scope = scope->outer_) {
            if (scope->owner_ == owner) return true;
        }
        return false;
    }

private:
    const void* owner_;
    const ThreadScope* outer_;
    static inline thread_local const ThreadScope* innermost_ = nullptr;
};

}  // namespace quilo
