#pragma once
// Makes a pipeline's state changes one after another on a thread of its own,
// never on the caller's: going to NULL joins the streaming threads and closes
// the network source's session, which may take a while. A teardown drops the
// changes still waiting (they belong to runs that are over), so quick station
// changes never pile up; a start waits until the teardown before it has fully
// reached NULL. Owns references to everything it touches, so that it may
// outlive the pipeline object: when its last teardown does not end in time,
// or when it is given up.

#include <QByteArray>
#include <chrono>
#include <memory>
#include <thread>

typedef struct _GstElement GstElement;

namespace didira {

class OutputHearing;
struct PipelineRun;

class PipelineStateWorker {
public:
    // How long destruction (the process's end) waits for the last teardown:
    // an exit never waits long for a sound server or a network that hangs.
    static constexpr auto kFinishTimeout = std::chrono::milliseconds(1000);
    // How long a teardown may last before it counts as hung: far beyond a
    // slow server's close, well below a listener's patience.
    static constexpr std::chrono::milliseconds kStuckTeardown{5000};

    // Told of every worker's life: its start (on the thread that makes it),
    // each change to NULL about to begin and its end (on the worker's own
    // thread, where TeardownBegins may block as long as it likes). The program
    // sets none; tests hold a teardown with it.
    class Watcher {
    public:
        virtual void Started() = 0;
        virtual void TeardownBegins() = 0;
        virtual void Ended() = 0;

    protected:
        ~Watcher() = default;
    };
    // Set before the first worker is made; it must outlive every worker.
    static void SetWatcher(Watcher* watcher);

    PipelineStateWorker(GstElement* playbin, std::shared_ptr<PipelineRun> relay,
                        std::shared_ptr<OutputHearing> watch);
    // Tears the pipeline down, waits for it and ends the thread. The wait is
    // bounded, and shorter when the teardown already hangs.
    ~PipelineStateWorker();
    PipelineStateWorker(const PipelineStateWorker&) = delete;
    PipelineStateWorker& operator=(const PipelineStateWorker&) = delete;

    // Sets uri and prerolls (paused) once the run before has reached NULL;
    // the bus transport stamps run on its messages from then on.
    void Start(QByteArray uri, quint64 run);
    void SetPlaying(bool playing);
    void Teardown();
    // Lets the thread end on its own once the change it is in returns, and
    // waits for nothing; the destructor then returns at once.
    void GiveUp();
    // How long the change to NULL in progress has lasted; zero when none is.
    std::chrono::nanoseconds TeardownTime() const;

private:
    enum class Step { Start, Play, Pause, Teardown, Finish };
    struct Command;
    struct Shared;

    void Post(Command command);
    // Drops the changes still waiting and queues step.
    void PostAlone(Step step);
    static void Run(std::shared_ptr<Shared> shared);
    static void Stop(Shared& shared);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

} // namespace didira
