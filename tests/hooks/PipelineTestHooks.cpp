#include "hooks/PipelineTestHooks.h"

#include "player/PipelineStateWorker.h"

#include <atomic>

namespace didira::pipeline_test {

namespace {

std::atomic<void (*)()> g_beforeTeardown{nullptr};
std::atomic<int> g_runningWorkers{0};

class WorkerCounter final : public PipelineStateWorker::Watcher {
    void Started() override { ++g_runningWorkers; }
    void TeardownBegins() override {
        if (auto hook = g_beforeTeardown.load())
            hook();
    }
    void Ended() override { --g_runningWorkers; }
};

// Never destroyed: a worker left hanging may still call it while the process exits.
[[maybe_unused]] const bool g_installed = [] {
    PipelineStateWorker::SetWatcher(new WorkerCounter);
    return true;
}();

} // namespace

void SetBeforeTeardown(void (*hook)()) {
    g_beforeTeardown = hook;
}

int RunningStateWorkers() {
    return g_runningWorkers.load();
}

} // namespace didira::pipeline_test
