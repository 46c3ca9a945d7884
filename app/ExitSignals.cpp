#include "app/ExitSignals.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace didira {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end, for the handler; -1 while no object watches.
std::atomic<int> g_writeFd{-1};

void OnSignal(int signal) {
    const int saved = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = saved;
}

} // namespace

CExitSignals::CExitSignals(QObject* parent) : QObject(parent) {
    if (g_writeFd.load() >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_fds) != 0)
        return;
    g_writeFd = m_fds[1];
    m_pNotifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CExitSignals::OnReadable);
    struct sigaction action = {};
    action.sa_handler = &OnSignal;
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &m_previous[i]);
}

CExitSignals::~CExitSignals() {
    if (!m_pNotifier)
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
    g_writeFd = -1;
    delete m_pNotifier;
    ::close(m_fds[0]);
    ::close(m_fds[1]);
}

void CExitSignals::OnReadable() {
    unsigned char number = 0;
    while (::read(m_fds[0], &number, 1) == 1)
        emit Requested(number);
}

} // namespace didira
