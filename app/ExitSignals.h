#pragma once
// SIGTERM, SIGINT and SIGHUP as a request to end (a logout, a service
// manager, Ctrl+C): the handler only writes the signal's number to a pipe,
// and Requested comes from the event loop, where the end can be orderly.
// Each handler is reset as it runs, so the same signal again ends the process
// at once. One object at a time; the previous handlers come back with its
// end.

#include <QObject>
#include <csignal>

class QSocketNotifier;

namespace didira {

class CExitSignals final : public QObject {
    Q_OBJECT
public:
    explicit CExitSignals(QObject* parent = nullptr);
    ~CExitSignals() override;
    Q_DISABLE_COPY_MOVE(CExitSignals)

    // Whether the handlers are in place.
    bool IsWatching() const { return m_pNotifier != nullptr; }

signals:
    void Requested(int signal);

private:
    void OnReadable();

    int m_fds[2] = {-1, -1};                // read end, write end
    QSocketNotifier* m_pNotifier = nullptr; // child
    struct sigaction m_previous[3] = {};
};

} // namespace didira
