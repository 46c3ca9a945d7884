#include "player/engine/PipelineStateWorker.h"

#include "player/engine/BusTransport.h"
#include "player/gst/DetachedWork.h"
#include "player/gst/GstHandle.h"
#include "player/output/OutputHearing.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#if defined(__linux__)
#include <pthread.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace didira {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<PipelineStateWorker::Watcher*> g_watcher{nullptr};

} // namespace

void PipelineStateWorker::SetWatcher(Watcher* watcher) {
    g_watcher = watcher;
}

struct PipelineStateWorker::Command {
    Step step = Step::Teardown;
    QByteArray uri;  // Start
    quint64 run = 0; // Start
};

struct PipelineStateWorker::Shared {
    std::mutex mutex;
    std::condition_variable wake; // a command was queued
    std::condition_variable done; // finished, or a change to NULL began
    std::deque<Command> queue;
    bool finished = false;
    std::atomic<Clock::time_point> nullSince{}; // while going to NULL
    std::shared_ptr<PipelineRun> relay;
    std::shared_ptr<OutputHearing> watch;
    gst::ElementPtr playbin; // released first: the run's state outlives its probes
};

PipelineStateWorker::PipelineStateWorker(GstElement* playbin, std::shared_ptr<PipelineRun> relay,
                                         std::shared_ptr<OutputHearing> watch)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->playbin.reset(GST_ELEMENT(gst_object_ref(playbin)));
    m_shared->relay = std::move(relay);
    m_shared->watch = std::move(watch);
    if (Watcher* watcher = g_watcher.load())
        watcher->Started();
    // Counted while it runs: a worker given up may run on past the process's end.
    m_thread =
        std::thread([shared = m_shared, running = std::make_unique<DetachedWork>()]() mutable {
            Run(std::move(shared));
        });
}

PipelineStateWorker::~PipelineStateWorker() {
    if (!m_thread.joinable())
        return; // given up
    PostAlone(Step::Finish);
    std::unique_lock lock(m_shared->mutex);
    const auto deadline = Clock::now() + kFinishTimeout;
    while (!m_shared->finished) {
        auto until = deadline;
        if (const auto since = m_shared->nullSince.load(); since != Clock::time_point{})
            until = std::min(until, since + kStuckTeardown);
        if (Clock::now() >= until)
            break;
        m_shared->done.wait_until(lock, until);
    }
    const bool finished = m_shared->finished;
    lock.unlock();
    if (finished) {
        m_thread.join();
    } else {
        // A teardown that hangs must not hang the process's exit: the
        // thread keeps what it uses alive on its own.
        m_thread.detach();
    }
}

void PipelineStateWorker::Start(QByteArray uri, quint64 run) {
    Post({Step::Start, std::move(uri), run});
}

void PipelineStateWorker::SetPlaying(bool playing) {
    Post({playing ? Step::Play : Step::Pause, {}, 0});
}

void PipelineStateWorker::Teardown() {
    PostAlone(Step::Teardown);
}

void PipelineStateWorker::GiveUp() {
    PostAlone(Step::Finish);
    m_thread.detach();
}

std::chrono::nanoseconds PipelineStateWorker::TeardownTime() const {
    const auto since = m_shared->nullSince.load();
    return since == Clock::time_point{} ? std::chrono::nanoseconds::zero() : Clock::now() - since;
}

void PipelineStateWorker::Post(Command command) {
    std::lock_guard lock(m_shared->mutex);
    m_shared->queue.push_back(std::move(command));
    m_shared->wake.notify_one();
}

void PipelineStateWorker::PostAlone(Step step) {
    std::lock_guard lock(m_shared->mutex);
    m_shared->queue.clear();
    m_shared->queue.push_back({step, {}, 0});
    m_shared->wake.notify_one();
}

void PipelineStateWorker::Run(std::shared_ptr<Shared> shared) {
#if defined(__linux__)
    pthread_setname_np(pthread_self(), "didira-states"); // as named in a core
#endif
    GstElement* playbin = shared->playbin.get();
    PipelineRun& relay = *shared->relay;
    for (;;) {
        Command command;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return !shared->queue.empty(); });
            command = std::move(shared->queue.front());
            shared->queue.pop_front();
        }
        switch (command.step) {
        case Step::Start:
            // The previous run is at NULL: none of its threads counts any more.
            relay.bytes = 0;
            shared->watch->Restart();
            relay.run = command.run;
            g_object_set(playbin, "uri", command.uri.constData(), nullptr);
            // A failing change posts an error on the bus, handled when it arrives.
            gst_element_set_state(playbin, GST_STATE_PAUSED);
            break;
        case Step::Play:
        case Step::Pause:
            if (relay.run != 0)
                gst_element_set_state(playbin, command.step == Step::Play ? GST_STATE_PLAYING
                                                                          : GST_STATE_PAUSED);
            break;
        case Step::Teardown:
            Stop(*shared);
            break;
        case Step::Finish:
            Stop(*shared);
            RemoveBusTransport(playbin);
            {
                std::lock_guard lock(shared->mutex);
                shared->finished = true;
                shared->done.notify_all();
            }
            // What a given-up worker holds goes with it, on this thread.
            shared.reset();
            if (Watcher* watcher = g_watcher.load())
                watcher->Ended();
            return;
        }
    }
}

void PipelineStateWorker::Stop(Shared& shared) {
    {
        std::lock_guard lock(shared.mutex);
        shared.nullSince = Clock::now();
        shared.done.notify_all();
    }
    if (Watcher* watcher = g_watcher.load())
        watcher->TeardownBegins();
    // Returns once the streaming threads have ended and the network source
    // has closed its session.
    gst_element_set_state(shared.playbin.get(), GST_STATE_NULL);
    shared.relay->run = 0;
    shared.nullSince = Clock::time_point{};
#if defined(__GLIBC__)
    // The run's streaming threads allocated from malloc arenas of their own,
    // which keep the pages freed above; without handing them back, every
    // station change leaves the process a little larger.
    malloc_trim(0);
#endif
}

} // namespace didira
