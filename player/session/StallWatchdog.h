#pragma once
// Notices a stream that no longer plays, whatever the cause (a connection
// that stays open without data, a decoder that runs dry, an HLS playlist
// that stops advancing): while armed it samples a progress counter (audio
// that reached the output) and reports once when the counter has not moved
// for the timeout. Runs on the owner's thread; the counter may be fed from
// any thread.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

namespace didira {

class StallWatchdog final : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 10000;

    explicit StallWatchdog(std::function<quint64()> progress, QObject* parent = nullptr);

    void SetTimeout(int ms);
    int Timeout() const { return m_timeoutMs; }

    // Starts watching from now; an armed watchdog keeps its start.
    void Arm();
    void Disarm();
    bool IsArmed() const { return m_timer.isActive(); }

signals:
    // No progress for the timeout; the watchdog has disarmed itself.
    void Stalled();

private:
    void Sample();

    std::function<quint64()> m_progress;
    QTimer m_timer;
    QElapsedTimer m_sinceProgress;
    quint64 m_last = 0;
    int m_timeoutMs = kDefaultTimeoutMs;
};

} // namespace didira
