#pragma once
// Watches for a sound output to come back while a station waits for one (its
// sound server ended or restarts): once a second it builds the configured
// output on a worker thread, takes it to READY and looks whether it reaches a
// real output (not the automatic sink's fake one). Back tells the first time
// it does, so the station reconnects at once instead of at its next back-off
// step. One look is in flight at a time; a sound server that hangs only
// delays the next look. Lives on the UI thread.

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

namespace didira {

class OutputProbe final : public QObject {
    Q_OBJECT
public:
    explicit OutputProbe(QByteArray sinkDescription, QObject* parent = nullptr);
    ~OutputProbe() override;
    Q_DISABLE_COPY_MOVE(OutputProbe)

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
    // Set when this probe goes: a look that ends later is dropped. Read and
    // written on the UI thread only.
    std::shared_ptr<bool> m_gone = std::make_shared<bool>(false);
};

} // namespace didira
