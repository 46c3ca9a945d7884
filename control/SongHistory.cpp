#include "control/SongHistory.h"

#include <QThread>
#include <cstdio>

namespace didira {

// What lives on the file's thread: the file, made and used there alone.
struct CSongHistory::Worker {
    QObject context; // moved to the thread: what is posted to it runs there
    std::unique_ptr<HistoryFile> file;
};

namespace {

// How long the end waits for the last entries to be written.
constexpr unsigned long kEndWaitMs = 5000;

} // namespace

CSongHistory::CSongHistory(const QString& path, QObject* parent)
    : CSongHistory(path, Options{}, parent) {}

CSongHistory::CSongHistory(const QString& path, Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_worker(std::make_shared<Worker>()),
      m_thread(std::make_unique<QThread>()) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &CSongHistory::WriteWaiting);
    m_thread->setObjectName(QStringLiteral("song history"));
    m_worker->context.moveToThread(m_thread.get());
    m_thread->start(QThread::LowPriority);
    const HistoryLimits limits = m_options.limits;
    const qint64 now = Now();
    const int busyMs = m_options.busyTimeoutMs;
    QMetaObject::invokeMethod(
        &m_worker->context,
        [this, worker = m_worker, path, limits, now, busyMs] {
            worker->file = std::make_unique<HistoryFile>(path, busyMs);
            HistoryFile::Opened opened = worker->file->Open(limits, now);
            // This object outlives the thread: what is posted to it arrives
            // or goes with it.
            QMetaObject::invokeMethod(
                this, [this, opened = std::move(opened)]() mutable { OnOpened(std::move(opened)); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

CSongHistory::~CSongHistory() {
    // What waits beyond the write under way goes in one last write (after
    // the file is read, when it is still being read).
    std::vector<HeardEntry> last;
    if (m_state != State::MemoryOnly)
        last.assign(m_waiting.begin() + static_cast<std::ptrdiff_t>(m_nWriting), m_waiting.end());
    const HistoryLimits limits = m_options.limits;
    const qint64 now = Now();
    // The thread ends after that write, once all that was posted before it
    // is done.
    QMetaObject::invokeMethod(
        &m_worker->context,
        [worker = m_worker, last = std::move(last), limits, now] {
            QString error;
            if (worker->file && !last.empty() && !worker->file->Append(last, limits, now, &error))
                std::fprintf(stderr, "song history: %d titles not written: %s\n",
                             static_cast<int>(last.size()), qPrintable(error));
            worker->file.reset();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (!m_thread->wait(kEndWaitMs)) {
        // A disk that never answers: the thread is left to the end of the
        // process rather than pulled from under it; its jobs hold the worker.
        std::fprintf(stderr, "song history: the file did not answer; titles may be lost\n");
        (void)m_thread.release();
    }
}

void CSongHistory::Heard(const QString& station, const QString& title) {
    const qint64 now = Now();
    if (!m_tracker.Heard(station, title, now))
        return;
    const HeardEntry entry{now, station, title};
    m_entries.push_back(entry);
    m_waiting.push_back(entry);
    Trim();
    emit entryAdded(entry);
    WriteWaiting();
}

std::vector<HeardEntry> CSongHistory::Newest(int count) const {
    const std::size_t n = std::min(m_entries.size(), static_cast<std::size_t>(std::max(count, 0)));
    return std::vector<HeardEntry>(m_entries.rbegin(),
                                   m_entries.rbegin() + static_cast<std::ptrdiff_t>(n));
}

void CSongHistory::OnOpened(HistoryFile::Opened opened) {
    // What was heard while the file was read comes after what it held.
    std::deque<HeardEntry> entries(opened.entries.begin(), opened.entries.end());
    entries.insert(entries.end(), m_entries.begin(), m_entries.end());
    m_entries = std::move(entries);
    Trim();
    emit entriesReset();
    if (!opened.problem.isEmpty())
        Tell(opened.problem);
    SetState(opened.condition == HistoryFile::Condition::Unusable ? State::MemoryOnly
                                                                  : State::Open);
    WriteWaiting();
}

void CSongHistory::WriteWaiting() {
    if (m_state != State::Open || m_bWriting || m_waiting.empty())
        return;
    std::vector<HeardEntry> batch(m_waiting.begin(), m_waiting.end());
    m_bWriting = true;
    m_nWriting = batch.size();
    const HistoryLimits limits = m_options.limits;
    const qint64 now = Now();
    QMetaObject::invokeMethod(
        &m_worker->context,
        [this, worker = m_worker, batch = std::move(batch), limits, now] {
            QString error;
            QString aside;
            const bool ok = worker->file->Append(batch, limits, now, &error, &aside);
            QMetaObject::invokeMethod(
                this, [this, ok, error, aside] { OnWritten(ok, error, aside); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void CSongHistory::OnWritten(bool ok, const QString& error, const QString& setAside) {
    m_bWriting = false;
    if (!setAside.isEmpty())
        Tell(setAside);
    if (!ok) {
        if (!m_bToldWriteFailure) {
            m_bToldWriteFailure = true;
            Tell(QStringLiteral("曲の履歴を書き込めません（%1）。書き込めるまで覚えておきます。")
                     .arg(error));
        }
        m_nWriting = 0;
        m_retry.start(m_options.retryMs);
        return;
    }
    // Of the batch, what the limits have not taken off the front meanwhile.
    m_waiting.erase(m_waiting.begin(), m_waiting.begin() + static_cast<std::ptrdiff_t>(m_nWriting));
    m_nWriting = 0;
    WriteWaiting();
}

void CSongHistory::Trim() {
    const qint64 oldest = Now() - m_options.limits.maxAgeMs;
    const auto max = static_cast<std::size_t>(std::max(m_options.limits.maxEntries, 0));
    const auto tooMany = [&](const std::deque<HeardEntry>& list) {
        return !list.empty() && (list.size() > max || list.front().heardMs < oldest);
    };
    while (tooMany(m_entries))
        m_entries.pop_front();
    while (tooMany(m_waiting)) {
        m_waiting.pop_front();
        if (m_nWriting > 0)
            --m_nWriting; // written or not, the limits have it go
    }
}

void CSongHistory::Tell(const QString& message) {
    m_strProblem = message;
    emit trouble(message);
}

void CSongHistory::SetState(State state) {
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

QString HeardTimeText(qint64 heardMs) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(heardMs);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

qint64 CSongHistory::Now() const {
    return m_options.clock ? m_options.clock() : QDateTime::currentMSecsSinceEpoch();
}

} // namespace didira
