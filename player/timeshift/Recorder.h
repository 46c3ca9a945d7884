#pragma once
// Writes what a LiveBuffer keeps of a station into files as received, never
// re-encoded: one file per title (TitleFiles), named as RecordingNames says
// (MP3 .mp3, ADTS AAC .aac, Ogg .ogg), so that a clash never fails. Either from the buffer's end on
// until Stop (a recording, on a thread of the recorder's own) or a range already kept (SaveRange,
// on the caller's thread, never the UI thread's). A file counts as written once it is flushed,
// synced to the disk and closed; a failure names the file.
//
// The files start at the first frame (MP3, AAC) or page (Ogg) of the range,
// and a title change splits them at the first frame or page at or after its
// mark, so that the files' audio, put together, is every byte of the buffer
// from there on exactly once. An MP3 file begins with an ID3v2 tag naming the
// title and the station; an Ogg file that does not begin its chain carries
// the chain's header pages first (LiveBuffer::HeadersAt). AAC and Ogg files
// have no tag of ours. An MPEG-TS stream (HLS) is written as its audio (ADTS
// AAC or MP3, see TsAudio), split at the first PES of its audio at or after
// a mark; fragmented MP4 is refused.

#include "player/timeshift/LiveBuffer.h"

#include <QString>
#include <QStringList>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace didira {

class Recorder {
public:
    // Empty when done; else why not, for the listener.
    using Report = std::function<void(const QString& error)>;

    // Writes [from, to) of buffer into folder (made when missing; empty:
    // DefaultRecordingFolder); empty or why it failed. The files written go to *files.
    static QString SaveRange(const LiveBuffer& buffer, qint64 from, qint64 to, QString folder,
                             const QString& station, QStringList* files = nullptr);

    // Records buffer from its end on. started: once the folder is made and
    // writable (empty) or why not (then nothing is recorded); failed: why a
    // recording that started stopped by itself (the disk), or why its last
    // bytes could not be written after Stop. Both come on the recorder's
    // thread.
    Recorder(std::shared_ptr<const LiveBuffer> buffer, QString folder, QString station,
             Report started, Report failed);
    // Stops (as Stop) and waits for the thread: the last bytes are written.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Asks the thread to write what is kept up to now and end; returns at once.
    void Stop();
    // The files written so far (safe from any thread).
    QStringList Files() const;

private:
    void Run(QString folder, QString station, Report started, Report failed);

    std::shared_ptr<const LiveBuffer> m_buffer;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bStop = false;
    QStringList m_files;
    std::thread m_thread; // last: starts once the rest is made
};

} // namespace didira
