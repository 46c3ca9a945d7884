#pragma once
// The files of one range of a LiveBuffer, one per title, written as the
// range grows (see Recorder.h for what goes into them). The first file
// starts at the range's first frame or page; a title's mark splits the files
// at the first frame or page at or after it, so that the files' audio, put
// together, is every byte from there on exactly once. A file counts as
// written once flushed, synced to the disk and closed; an error names the
// file. Used on one thread.

#include "player/formats/AudioFrames.h"
#include "player/formats/TsAudio.h"
#include "player/timeshift/LiveBuffer.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <memory>

namespace didira {

class TitleFiles {
public:
    TitleFiles(const LiveBuffer& buffer, QString folder, QString station, qint64 from);

    // Writes on up to to; final: nothing more comes, so nothing waits for
    // more bytes. False with Error() when the disk or the buffer fails.
    bool WriteTo(qint64 to, bool final);
    // Ends the file open: on the disk (flushed, synced, closed) or an error
    // naming it.
    bool Close();
    QString Error() const { return m_error; }
    QStringList Files() const { return m_files; }

    // Why what the buffer keeps now cannot be recorded (the segment it is in
    // is fragmented MP4); empty when it may be.
    static QString Unrecordable(const LiveBuffer& buffer);

private:
    // Which format the range is, and its first frame or page; false while
    // this cannot be told yet (or, with m_error, at all).
    bool Detect(qint64 to, bool final);
    // A transport stream from i in bytes (read at m_pos): the files start at
    // the first PES of its audio, once its programme map is read.
    bool DetectTs(const QByteArray& bytes, qint64 i, bool final);
    // The first packet boundary at or after at (whole packets from m_pos on).
    qint64 PacketAtOrAfter(qint64 at) const;
    // The first frame or page at or after from; -1 when there is none near,
    // -2 when it cannot be told yet. In a transport stream, the first packet
    // starting a PES of its audio.
    qint64 FindFrame(qint64 from, qint64 to, bool final);
    bool Open();
    // The format of the files: that of the audio in a transport stream.
    AudioFormat FileFormat() const;
    bool StartsChain() const;
    bool Write(const QByteArray& bytes);
    // Writes on up to `to` into the file open (one opened when none is).
    bool Copy(qint64 to);

    const LiveBuffer& m_buffer;
    const QString m_folder;
    const QString m_station;
    AudioFormat m_format = AudioFormat::Unknown;
    TsAudio m_ts;       // a transport stream's tables, as read so far
    qint64 m_pos;       // the next byte to write
    qint64 m_marksDone; // marks up to here have split the files
    std::unique_ptr<QFile> m_file;
    QStringList m_files;
    QString m_error;
};

} // namespace didira
