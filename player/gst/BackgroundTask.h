#pragma once
// Runs one piece of start-up work on a thread of its own, so that no stream
// waits for it. Held in a static by its user, and so joined at exit.

#include <thread>
#include <utility>

namespace didira {

class BackgroundTask {
public:
    template <typename Work> explicit BackgroundTask(Work work) : m_thread(std::move(work)) {}
    ~BackgroundTask() { m_thread.join(); }
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

private:
    std::thread m_thread;
};

} // namespace didira
