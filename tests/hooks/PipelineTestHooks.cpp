#include "hooks/PipelineTestHooks.h"

#include "player/engine/PipelineStateWorker.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace didira::pipeline_test {

namespace {

std::atomic<int> g_runningWorkers{0};
// Never destroyed: a held worker may still wait here while the process exits.
auto& g_mutex = *new std::mutex;
auto& g_released = *new std::condition_variable;
bool g_armed = false;
bool g_open = false;
int g_held = 0;

class WorkerCounter final : public PipelineStateWorker::Watcher {
    void Started() override { ++g_runningWorkers; }
    void TeardownBegins() override {
        std::unique_lock lock(g_mutex);
        if (!g_armed)
            return;
        g_armed = false;
        ++g_held;
        g_released.wait(lock, [] { return g_open; });
        --g_held;
    }
    void Ended() override { --g_runningWorkers; }
};

[[maybe_unused]] const bool g_installed = [] {
    PipelineStateWorker::SetWatcher(new WorkerCounter);
    return true;
}();

} // namespace

void HoldNextTeardown() {
    std::lock_guard lock(g_mutex);
    g_armed = true;
    g_open = false;
}

void ReleaseTeardowns() {
    std::lock_guard lock(g_mutex);
    g_armed = false;
    g_open = true;
    g_released.notify_all();
}

int HeldTeardowns() {
    std::lock_guard lock(g_mutex);
    return g_held;
}

int RunningStateWorkers() {
    return g_runningWorkers.load();
}

} // namespace didira::pipeline_test
