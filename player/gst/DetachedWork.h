#pragma once
// Work on a thread that nobody joins: a pipeline's teardown that hangs, a look
// at a sound server that does not answer. Each such thread holds a
// DetachedWork for as long as it runs, so that the process's end can tell
// whether anything it cannot wait for still runs (and then ends without
// running the static destructors under it). Run starts work that way.

#include <atomic>
#include <functional>

namespace didira {

class DetachedWork {
public:
    DetachedWork() { s_running.fetch_add(1); }
    ~DetachedWork() { s_running.fetch_sub(1); }
    DetachedWork(const DetachedWork&) = delete;
    DetachedWork& operator=(const DetachedWork&) = delete;

    // Threads that hold one now.
    static int Running() { return s_running.load(); }
    // Runs work on a thread of its own, not joined; false when no thread can
    // be made (work is not run).
    static bool Run(std::function<void()> work);

private:
    static inline std::atomic<int> s_running{0};
};

} // namespace didira
