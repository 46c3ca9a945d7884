#pragma once
// A bounded store of a live stream's bytes, kept on disk as they were
// received (never re-encoded), with the titles at their place: what pause,
// going back and recording play from.
//
// Positions are byte offsets counted from the first byte ever appended; they
// only grow. Times are the caller's milliseconds of arrival on a steady
// clock; each chunk also keeps the wall time it came at, for names and
// display only. The bytes live in segment files in a directory of the
// buffer's own; the oldest segment goes once all of it is older than the
// window (or the bytes exceed their cap), so memory holds only the index.
//
// The cache root and each buffer's directory are the user's alone (0700,
// real directories owned by the user, checked without following links);
// anything else there is refused, never written into or removed. A buffer's
// directory names its owner (boot, pid and the process's start time) in a
// file of its own; one whose owner no longer runs goes at the next start
// (RemoveLeftovers), only its own files removed, never through a link.
// Thread-safe: appended from the streaming thread, read from the playback
// thread, asked from the UI thread; the disk is written and read with no
// lock held that a question takes.

#include "player/timeshift/CacheFolder.h"

#include <QByteArrayView>
#include <QString>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace didira {

class LiveBuffer {
public:
    struct Limits {
        std::chrono::milliseconds window{std::chrono::minutes(30)};
        qint64 maxBytes = qint64(512) << 20; // a cap for very high rates
        qint64 segmentBytes = qint64(1) << 20;
    };

    // $XDG_CACHE_HOME/didira (~/.cache/didira when it is not set).
    static QString DefaultRoot();
    // Removes the buffers under root whose process no longer runs (on this
    // machine: another machine's are left to it); returns how many went.
    static int RemoveLeftovers(const QString& root);
    // The file in a buffer's directory that names the process keeping it.
    static constexpr const char* kOwnerFile = cachefolder::kOwnerFile;
    // What kOwnerFile holds for the process pid ("" when it does not run).
    static QByteArray OwnerOf(qint64 pid);

    // A title announced at a place in the stream.
    struct Mark {
        qint64 offset;
        QString title;
        qint64 ms = 0; // when it came
    };
    // Bounds against a stream that announces titles without end: past
    // kMarksPerMinute a change only renames the newest mark (a title that
    // changes all the time keeps the latest), and the oldest marks (and Ogg
    // headers) go once their text passes its budget.
    static constexpr int kMarksPerMinute = 30;
    static constexpr qint64 kMaxMarkBytes = qint64(1) << 20;
    static constexpr qint64 kMaxHeaderBytes = qint64(2) << 20;

    // A new buffer in a directory of its own under root; null with error set
    // when root or the directory cannot be made or is not the user's own.
    static std::unique_ptr<LiveBuffer> Create(const QString& root, const Limits& limits,
                                              QString* error = nullptr);
    ~LiveBuffer();
    LiveBuffer(const LiveBuffer&) = delete;
    LiveBuffer& operator=(const LiveBuffer&) = delete;

    QString Directory() const { return m_dir; }

    // Appends bytes received at atMs (steady clock). False when the disk
    // takes less than all of them (full, unwritable, the directory gone):
    // what was kept stays, Error() says why, and Lost() is true from then on.
    bool Append(QByteArrayView data, qint64 atMs);
    // The stream announced title at the current end, at atMs.
    void MarkTitle(const QString& title, qint64 atMs);

    qint64 Begin() const; // the oldest byte kept
    qint64 End() const;   // one past the newest byte
    // The first byte kept that arrived at or after ms (End() when none did).
    qint64 OffsetAt(qint64 ms) const;
    // When the byte at offset arrived (that of the chunk holding it); -1 when
    // it is not kept.
    qint64 TimeAt(qint64 offset) const;
    // The same on the wall clock (ms since the epoch), for names and display.
    qint64 WallTimeAt(qint64 offset) const;
    // The title in effect at offset; empty before the first.
    QString TitleAt(qint64 offset) const;
    // The titles announced after from, up to and including to, in order.
    std::vector<Mark> MarksIn(qint64 from, qint64 to) const;
    // What a file that starts inside the part of the stream beginning at
    // offset must carry first to be decoded (an Ogg chain's header pages);
    // kept while that part is, also once its own start is no longer.
    void KeepHeaders(qint64 offset, QByteArray headers);
    // Those in effect at offset; empty when none are.
    QByteArray HeadersAt(qint64 offset) const;
    // A place a decoder can start from (an HLS segment's start) at the
    // current end; the latest at or before offset, -1 when none is kept.
    void MarkEntry();
    qint64 EntryAtOrBefore(qint64 offset) const;
    // Copies up to max bytes from offset into out; returns the count, 0 at
    // End(), -1 when offset is no longer (or not yet) kept or the disk fails.
    qint64 Read(qint64 offset, char* out, qint64 max) const;
    QString Error() const;
    // Whether an append failed: what follows is not all of the stream.
    bool Lost() const { return m_lost; }

private:
    // A segment's file, closed once no reader holds it.
    struct SegmentFile {
        explicit SegmentFile(int descriptor) : fd(descriptor) {}
        ~SegmentFile();
        SegmentFile(const SegmentFile&) = delete;
        SegmentFile& operator=(const SegmentFile&) = delete;
        const int fd;
    };
    struct Segment {
        qint64 begin = 0;
        qint64 size = 0;
        std::shared_ptr<const SegmentFile> file;
        QByteArray name;
    };
    struct Chunk {
        qint64 offset;
        qint64 ms;
        qint64 wallMs;
    };
    LiveBuffer(QString dir, int dirFd, const Limits& limits);
    bool NewSegment(std::unique_lock<std::mutex>& lock); // lets it go to make the file
    // With m_mutex held; the names of the segments that went, to remove.
    std::vector<QByteArray> Trim();
    void DropOldestMark();
    void DropOldestHeaders();
    qint64 TimeAtLocked(qint64 offset) const;
    const Chunk* ChunkAtLocked(qint64 offset) const;

    QString m_dir;
    int m_dirFd = -1; // segment files are made and removed through it
    Limits m_limits;
    std::mutex m_appendMutex;   // held by the one writer, across its disk work
    mutable std::mutex m_mutex; // the index's; never held across disk work
    std::deque<Segment> m_segments;
    std::deque<Chunk> m_chunks; // one per append, in order
    std::deque<Mark> m_marks;   // the first is the title in effect at Begin()
    struct Headers {
        qint64 offset;
        QByteArray bytes;
    };
    std::deque<Headers> m_headers; // as m_marks
    qint64 m_markBytes = 0;        // of the marks' titles
    qint64 m_headerBytes = 0;
    std::deque<qint64> m_entries; // in order; those before Begin() go
    qint64 m_end = 0;
    qint64 m_nSegment = 0;
    QString m_strError;
    std::atomic<bool> m_lost{false};
};

} // namespace didira
