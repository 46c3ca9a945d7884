#pragma once
// Pause and moving back and forth in a live station, on the station's own
// pipeline. What the network source reads passes a tap on its pad, which
// keeps the audio in a LiveBuffer (ICY metadata taken out, each title marked
// where its block came) and decides what goes on downstream:
//   Live     the bytes as received;
//   Paused   nothing: the pipeline is paused with what it had queued, and what
//            arrives meanwhile is only kept;
//   Delayed  the kept audio from the cursor, as many bytes as arrive, so the
//            delay stays what it is; on an ICY stream framed again, its
//            blocks naming the title of what they precede.
// An unpause goes on at the very byte where the pause cut it off, with the
// decoder's state (Ogg headers included) as it was. A move is heard at once:
// the tap asks for what downstream holds (seconds in the network queue) to
// be flushed, and sends a lead of kLeadMs from the new place straight away;
// the parser finds the next frame from there. Going live lands kLeadMs
// behind the newest byte. On Ogg a move starts on a page; into another chain
// than the one the demuxer is in, the demuxer itself is left out of the
// flush (NoteDemuxed, TakeKeepDemuxerChain) and given that chain's headers.
//
// A new connection (a reconnection, the wake after a sleep) goes on live,
// unless paused: then it is only kept, and the unpause goes on from the paused
// place (or the oldest audio kept, when that place is gone).
// An HLS playlist is passed on and not kept: its segments, fetched by the
// demuxer's own sources, are kept by a SegmentTap on what the demuxer sends
// on. There a move lands at the start of a segment, the entry the buffer
// marks, and is heard at once as elsewhere, the segment for a lead; going
// live lands at the start of the newest segment.
//
// One per open; the buffer is made on the streaming thread by the first tap
// and goes with the last reference (taps hold one until their pad goes).
// A buffer whose disk fails is dropped (a recording from it stops; pause and
// moves are refused with the reason) and a new one is tried once a segment's
// worth of bytes (HLS: the next segment) has come. Commands come from the UI
// thread; the taps run on streaming threads and alone read and write the
// disk. The questions are answered from values the taps publish, so that
// asking never waits for the disk.

#include "player/formats/IcyMetadata.h"
#include "player/formats/OggHeaderPages.h"
#include "player/formats/TimedId3.h"
#include "player/timeshift/LiveBuffer.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace didira {

class TimeShift : public std::enable_shared_from_this<TimeShift> {
public:
    enum class Mode { Live, Paused, Delayed };
    // What downstream is given at once after a move: enough to play on while
    // the next bytes arrive, little enough to stay near the live edge.
    static constexpr qint64 kLeadMs = 750;

    // The clock of arrival times: milliseconds since boot, sleep included,
    // never stepped (the wall clock's steps move nothing kept).
    static qint64 NowMs();

    // Kept under root (LiveBuffer::DefaultRoot in the program).
    static std::shared_ptr<TimeShift> Create(const QString& root, const LiveBuffer::Limits& limits);
    TimeShift(const TimeShift&) = delete;
    TimeShift& operator=(const TimeShift&) = delete;

    // The bytes of one connection, as its source's pad carries them. Made for
    // each network source (live from then on); used on its streaming thread
    // only.
    class Tap {
    public:
        explicit Tap(std::shared_ptr<TimeShift> shift) : m_shift(std::move(shift)) {}
        // The source's caps named this ICY metadata interval (0: none).
        // True when downstream must not be told: below the smallest
        // interval whose titles are taken, the tap sends the audio alone
        // (no demuxer then makes a title of every block).
        bool SetIcyInterval(std::uint32_t interval);
        // Keeps what was received at atMs (NowMs); what to send on in its
        // place: none for the
        // bytes unchanged, empty for nothing. With restart given, a move sets
        // *restart and sends nothing: downstream must be flushed, and gets
        // what Restart returns (without it, a move is heard once what
        // downstream holds has played).
        std::optional<QByteArray> Received(QByteArrayView bytes, qint64 atMs,
                                           bool* restart = nullptr);
        // Once the flush has begun (nothing more reaches the demuxer): what
        // downstream gets first, from the move's place.
        QByteArray Restart();
        // Where in the buffer what was sent last ends (-1: not kept).
        qint64 SentEnd() const { return m_sentEnd; }
        // The ICY title that what was sent last names, when it is another
        // than the one named before (since the last flush), as a reader of
        // what goes downstream would tell it; once. The titles are read
        // here only, once per pad.
        std::optional<QByteArray> TakeShownTitle() { return std::exchange(m_shownChange, {}); }

    private:
        bool Unframed() const {
            return m_interval > 0 && m_interval < IcyMetadataReader::kMinTitledInterval;
        }
        // Keeps audio received at atMs (title marked at titleAt, -1: none)
        // in the shift's buffer, written with the lock let go (held keeps
        // the buffer meanwhile); the buffer, or null when none keeps it.
        // *start: where the audio begins in it.
        LiveBuffer* KeepLocked(std::unique_lock<std::mutex>& lock,
                               std::shared_ptr<LiveBuffer>& held, QByteArrayView audio,
                               qsizetype titleAt, qint64 atMs, qint64* start);
        // Keeps audio in buffer, title marked at titleAt (-1: none); false
        // when the disk did not take it all. Without the shift's lock.
        bool Keep(LiveBuffer& buffer, QByteArrayView audio, qsizetype titleAt, const QString& title,
                  qint64 atMs);
        // count bytes from the cursor (or audio, live), after headers.
        QByteArray SendLocked(LiveBuffer* buffer, qint64 count, QByteArray headers,
                              QByteArrayView audio);

        // Downstream is sent a block naming title.
        void ShowTitle(const QByteArray& title);

        std::shared_ptr<TimeShift> m_shift;
        std::uint32_t m_interval = 0;
        qint64 m_restartCount = 0; // what arrived with the move: the least to send
        qint64 m_sentEnd = -1;
        QByteArray m_shownTitle;                 // named last downstream
        std::optional<QByteArray> m_shownChange; // see TakeShownTitle
        std::optional<IcyMetadataReader> m_reader;
        quint64 m_buffer = 0;              // which of the shift's buffers m_oggHeaders follows
        std::optional<IcyFramer> m_framer; // once downstream no longer gets the bytes as received
        OggHeaderPages m_oggHeaders;       // for recordings that start inside a chain
        bool m_asReceived = true;          // downstream has had every byte as received
        bool m_started = false;            // has seen bytes
        bool m_playlist = false;           // an HLS playlist: passed on, not kept
    };
    std::unique_ptr<Tap> NewTap();

    // The segments an HLS demuxer sends on (MPEG-TS, the audio of packed
    // audio, fragmented MP4), in order. Made for each of its pads (a new
    // decoding chain: live from then on); used on that pad's streaming thread
    // only. Titles are marked where they come: the timed ID3 of MPEG-TS read
    // here, those of packed audio noted before their segment
    // (NoteSegmentTitle).
    class SegmentTap {
    public:
        using TitleOf = std::function<QString(const QByteArray& id3)>;
        SegmentTap(std::shared_ptr<TimeShift> shift, TitleOf titleOf)
            : m_shift(std::move(shift)), m_titleOf(std::move(titleOf)) {}
        // As Tap::Received; segmentStart: bytes begin a segment. *restart:
        // after a move, downstream must drop what it holds before what is
        // returned, which does not follow what went before.
        std::optional<QByteArray> Received(QByteArrayView bytes, qint64 atMs, bool segmentStart,
                                           bool* restart);

    private:
        enum class Next { AsReceived, Nothing, FromCursor }; // what goes downstream
        // As Tap::KeepLocked, for a segment's bytes and the titles they bring.
        LiveBuffer* KeepLocked(std::unique_lock<std::mutex>& lock,
                               std::shared_ptr<LiveBuffer>& held, QByteArrayView bytes, qint64 atMs,
                               bool segmentStart, const QString& timedTitle, qint64* start);
        // What goes downstream now; a return to live lands on a segment.
        Next ChooseLocked(LiveBuffer* buffer, qint64 start, bool segmentStart, bool* restart);
        // count bytes from the cursor, the lead after a move.
        QByteArray SendLocked(LiveBuffer& buffer, qint64 count, bool* restart);

        std::shared_ptr<TimeShift> m_shift;
        TitleOf m_titleOf;
        TimedId3Reader m_timedId3;
        bool m_started = false;
        bool m_ts = false;        // MPEG-TS: timed ID3 read
        bool m_asReceived = true; // downstream has had every byte as received
    };
    std::unique_ptr<SegmentTap> NewSegmentTap(SegmentTap::TitleOf titleOf);
    // The title of the next segment to start (packed audio heads each with
    // its tag, which the demuxer takes out); from any thread.
    void NoteSegmentTitle(const QString& title);

    // From the Ogg demuxer's sink pad: it has had the buffer up to end.
    void NoteDemuxed(qint64 end);
    // At the flush that follows a move: whether the demuxer must be left out
    // of it (its outputs flushed, itself not), keeping the chain it is in.
    bool TakeKeepDemuxerChain();

    // Commands; each false when there is nothing to do it on (no buffer, or
    // its disk failed, or already so).
    bool Pause(); // nothing more goes downstream
    // Goes on from the cursor; *fromOldest: the paused place is no longer
    // kept, and it goes on from the oldest audio kept.
    bool Unpause(bool* fromOldest = nullptr);
    bool SeekBy(qint64 ms); // back (< 0) or forth; past the newest audio: live
    bool SeekTo(qint64 ms); // to a position as PositionMs counts it
    bool GoLive();

    // The open is over: nothing more is kept, and the buffer (its files) goes
    // as soon as no reader holds it, also while a tap lives on in a pipeline
    // whose teardown hangs.
    void Close();

    Mode CurrentMode() const;
    // Whether audio is kept: pausing and seeking can work.
    bool Works() const { return m_works; }
    // Of what goes downstream next, in ms after the oldest audio kept.
    qint64 PositionMs() const { return m_positionMs; }
    // From the oldest audio kept to the newest.
    qint64 LengthMs() const { return m_lengthMs; }
    // How far what goes downstream is behind the newest audio.
    qint64 BehindMs() const { return m_behindMs; }
    // Why keeping failed (the cache folder, the disk); empty while it works.
    QString Error() const;
    // What is kept, for reading (a recording); null before the first bytes
    // or once keeping failed.
    std::shared_ptr<const LiveBuffer> Buffer() const;

private:
    // Publishes what the taps and commands changed as they leave (with the
    // shift's mutex held).
    class PublishOnExit {
    public:
        explicit PublishOnExit(TimeShift& shift) : m_shift(shift) {}
        ~PublishOnExit() { m_shift.PublishLocked(); }
        PublishOnExit(const PublishOnExit&) = delete;
        PublishOnExit& operator=(const PublishOnExit&) = delete;

    private:
        TimeShift& m_shift;
    };
    TimeShift(QString root, const LiveBuffer::Limits& limits);
    // The buffer, made on first use (and again, retry, after a failure);
    // null when it cannot be.
    LiveBuffer* BufferLocked(bool retry = false);
    // The buffer failed: dropped, live from here on.
    void DropBufferLocked(const QString& why);
    // Counts bytes that came while no buffer works; whether to try again.
    bool RetryDueLocked(qint64 bytes);
    void PublishLocked();            // the answers to the questions, after each change
    void NewConnectionLocked();      // a tap for a new connection is made
    qint64 CursorTimeLocked() const; // arrival time of the cursor's byte
    bool SeekToTimeLocked(qint64 ms);
    void NoteMoveLocked(); // before a move changes the cursor or the mode
    // The taps' changes of mode and cursor, each written once:
    void GoLiveLocked();                        // the next byte received goes on as it is
    void DelayFromLocked(qint64 offset);        // downstream gets the kept audio from offset
    void CursorFromLocked(qint64 offset);       // downstream stops getting bytes as received there
    bool TakeMovedLocked();                     // whether a move is still to be heard; no longer
    void NoteTitleLocked(const QString& title); // in effect now: a new buffer starts with it
    std::optional<QString> TakeSegmentTitleLocked(); // see NoteSegmentTitle
    // Reads chunk's size of kept audio from the cursor (no older than the
    // oldest kept) into chunk, cut to what was read, and moves the cursor
    // past it: caught up with the newest byte, live again. A disk that fails
    // drops the buffer (ok false).
    struct CursorRead {
        qint64 from = -1;
        QString title; // of the audio at from
        bool ok = false;
    };
    CursorRead ReadCursorLocked(LiveBuffer& buffer, QByteArray& chunk);

    const QString m_root;
    const LiveBuffer::Limits m_limits;
    std::mutex m_tapMutex;      // the taps', one at a time; taken before m_mutex
    mutable std::mutex m_mutex; // taken before the buffer's own; let go for the disk's writes
    std::shared_ptr<LiveBuffer> m_buffer;
    quint64 m_nBuffer = 0;    // buffers made so far
    qint64 m_unkeptBytes = 0; // came since keeping failed
    QString m_lastTitle;      // marked last: the next buffer starts with it
    QString m_strError;
    bool m_closed = false; // see Close: nothing is kept any more
    Mode m_mode = Mode::Live;
    qint64 m_cursor = -1;              // next byte to send when not live; -1: the next one received
    bool m_moved = false;              // downstream still holds audio of the place before a move
    std::atomic<qint64> m_demuxed{-1}; // see NoteDemuxed
    std::atomic<bool> m_keepDemuxerChain{false}; // see TakeKeepDemuxerChain
    std::optional<QString> m_segmentTitle;       // for the next segment to start

    // Published by PublishLocked for the questions.
    std::atomic<bool> m_works{false};
    std::atomic<qint64> m_positionMs{0};
    std::atomic<qint64> m_lengthMs{0};
    std::atomic<qint64> m_behindMs{0};
    std::atomic<Mode> m_publishedMode{Mode::Live};
    mutable std::mutex m_publishedMutex; // never held across disk work
    std::shared_ptr<LiveBuffer> m_publishedBuffer;
    QString m_publishedError;
};

} // namespace didira
