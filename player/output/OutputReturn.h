#pragma once
// The output's return: watches for a sound output to come back while a
// station waits for one (its sound server ended or restarts). Once a second
// it builds the configured output on a worker thread, takes it to READY and
// looks whether it reaches a real output (not the automatic sink's fake one).
// Back tells the first time it does, so the station reconnects at once
// instead of at its next back-off step. One look is in flight at a time, on a
// thread that nobody waits for; a sound server that hangs only delays the
// next look. Lives on the UI thread.

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>
#include <mutex>

namespace didira {

class OutputReturn final : public QObject {
    Q_OBJECT
public:
    explicit OutputReturn(QByteArray sinkDescription, QObject* parent = nullptr);
    ~OutputReturn() override;
    Q_DISABLE_COPY_MOVE(OutputReturn)

    static constexpr int kIntervalMs = 1000;

    // Looks once a second from now on, until Back or Stop.
    void Start();
    void Stop();
    bool IsWatching() const { return m_timer.isActive(); }

    // Whether sinkDescription opens a real output now. Blocks while the
    // output opens: for worker threads (and tests).
    static bool OutputOpens(const QByteArray& sinkDescription);

signals:
    void Back();

private:
    void Look();
    void Looked(bool opens);

    const QByteArray m_sinkDescription;
    QTimer m_timer;
    bool m_inFlight = false;
    // Shared with the look in flight; watcher is cleared when this one goes,
    // and a look that ends later is dropped.
    struct Owner {
        std::mutex mutex;
        OutputReturn* watcher = nullptr;
    };
    const std::shared_ptr<Owner> m_owner = std::make_shared<Owner>();
};

} // namespace didira
