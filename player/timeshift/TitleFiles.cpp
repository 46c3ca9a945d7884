#include "player/timeshift/TitleFiles.h"

#include "player/formats/Id3v2Tag.h"
#include "player/formats/OggPage.h"
#include "player/timeshift/RecordingNames.h"

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace didira {

namespace {

constexpr qint64 kBlock = 64 * 1024;
// How far past a mark (or the start) the first frame or page is looked for;
// a recording waits for this much before it splits without one.
constexpr qint64 kSyncReach = 16 * 1024;
constexpr qint64 kPacket = TsAudio::kPacketSize;

const uchar* At(const QByteArray& bytes, qint64 i) {
    return reinterpret_cast<const uchar*>(bytes.constData()) + i;
}

QString Describe(const QFile& file) {
    return QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
}

} // namespace

TitleFiles::TitleFiles(const LiveBuffer& buffer, QString folder, QString station, qint64 from)
    : m_buffer(buffer), m_folder(std::move(folder)), m_station(std::move(station)), m_pos(from),
      m_marksDone(from) {}

bool TitleFiles::WriteTo(qint64 to, bool final) {
    if (m_format == AudioFormat::Unknown && !Detect(to, final))
        return m_error.isEmpty();
    for (const LiveBuffer::Mark& mark : m_buffer.MarksIn(m_marksDone, to)) {
        qint64 split = FindFrame(mark.offset, to, final);
        if (split == -2) // not yet known where: what precedes the mark goes on
            return Copy(std::max(m_pos, mark.offset));
        split = std::max(split < 0 ? mark.offset : split, m_pos);
        if (!Copy(split) || !Close())
            return false;
        m_marksDone = mark.offset;
    }
    return Copy(to);
}

bool TitleFiles::Close() {
    if (!m_file)
        return true;
    bool ok = m_file->flush();
    if (!ok) {
        m_error = Describe(*m_file);
    } else if (::fsync(m_file->handle()) != 0) {
        m_error = QStringLiteral("%1: %2").arg(m_file->fileName(),
                                               QString::fromLocal8Bit(std::strerror(errno)));
        ok = false;
    }
    m_file->close(); // an error closing is kept as the file's
    if (ok && m_file->error() != QFileDevice::NoError) {
        m_error = Describe(*m_file);
        ok = false;
    }
    m_file.reset();
    // The file's name in its folder is made durable too.
    if (const int folder =
            ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return ok;
}

bool TitleFiles::Detect(qint64 to, bool final) {
    QByteArray bytes(std::min<qint64>(to - m_pos, kBlock), '\0');
    const qint64 n = m_buffer.Read(m_pos, bytes.data(), bytes.size());
    if (n < 0) {
        m_error = QStringLiteral("the live buffer no longer holds the audio to write");
        return false;
    }
    bytes.resize(n);
    if (FragmentedMp4At(bytes)) {
        m_error = QStringLiteral("fragmented MP4 segments (HLS) cannot be recorded");
        return false;
    }
    for (qint64 i = 0; i + 7 < n; ++i) {
        if (TransportStreamAt(bytes, i, final))
            return DetectTs(bytes, i, final);
        for (const AudioFormat format : {AudioFormat::Ogg, AudioFormat::Aac, AudioFormat::Mp3}) {
            if (FrameAt(format, bytes, i, final)) {
                m_format = format;
                m_pos += i;
                m_marksDone = std::max(m_marksDone, m_pos - 1);
                return true;
            }
        }
    }
    if (final || n >= kBlock)
        m_error = m_pos == to ? QString()
                              : QStringLiteral("the station's format cannot be recorded "
                                               "(MP3, AAC and Ogg can)");
    return false;
}

bool TitleFiles::DetectTs(const QByteArray& bytes, qint64 i, bool final) {
    for (; i + kPacket <= bytes.size(); i += kPacket) {
        if (m_ts.StartsAudio(At(bytes, i))) {
            m_format = AudioFormat::Ts;
            m_pos += i;
            m_marksDone = std::max(m_marksDone, m_pos - 1);
            return true;
        }
        m_ts.Packet(At(bytes, i), nullptr);
    }
    if (final || bytes.size() >= kBlock)
        m_error = QStringLiteral("the station's format cannot be recorded (MP3, AAC and Ogg "
                                 "can, also in MPEG-TS)");
    return false;
}

qint64 TitleFiles::PacketAtOrAfter(qint64 at) const {
    return at <= m_pos ? m_pos : m_pos + (at - m_pos + kPacket - 1) / kPacket * kPacket;
}

qint64 TitleFiles::FindFrame(qint64 from, qint64 to, bool final) {
    if (m_format == AudioFormat::Ts)
        from = PacketAtOrAfter(from);
    QByteArray bytes(std::min<qint64>(to - from, kSyncReach), '\0');
    const qint64 n = m_buffer.Read(from, bytes.data(), bytes.size());
    bytes.resize(std::max<qint64>(n, 0));
    if (m_format == AudioFormat::Ts) {
        for (qint64 i = 0; i + kPacket <= bytes.size(); i += kPacket)
            if (m_ts.StartsAudio(At(bytes, i)))
                return from + i;
    } else {
        for (qint64 i = 0; i < bytes.size(); ++i)
            if (FrameAt(m_format, bytes, i, final))
                return from + i;
    }
    return final || bytes.size() >= kSyncReach ? -1 : -2;
}

bool TitleFiles::Open() {
    const AudioFormat audio = FileFormat();
    const char* ext = audio == AudioFormat::Mp3   ? ".mp3"
                      : audio == AudioFormat::Aac ? ".aac"
                                                  : ".ogg";
    const RecordingFileNames names(m_station, m_buffer.TitleAt(m_pos), m_buffer.WallTimeAt(m_pos),
                                   ext);
    for (int n = 1;; ++n) {
        m_file = std::make_unique<QFile>(QDir(m_folder).filePath(names.Name(n)));
        // Unbuffered: a failed write is seen (and told) where it happens.
        if (m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            break;
        if (!m_file->exists() || n >= RecordingFileNames::kAttempts) {
            m_error = Describe(*m_file);
            m_file.reset();
            return false;
        }
    }
    m_files << m_file->fileName();
    QByteArray head;
    if (audio == AudioFormat::Mp3)
        head = Id3v2Tag(m_buffer.TitleAt(m_pos), m_station);
    if (m_format == AudioFormat::Ogg && !StartsChain())
        head = m_buffer.HeadersAt(m_pos);
    return Write(head);
}

AudioFormat TitleFiles::FileFormat() const {
    if (m_format != AudioFormat::Ts)
        return m_format;
    return m_ts.AudioCodec() == TsAudio::Codec::Mp3 ? AudioFormat::Mp3 : AudioFormat::Aac;
}

bool TitleFiles::StartsChain() const {
    QByteArray head(6, '\0');
    return m_buffer.Read(m_pos, head.data(), head.size()) == head.size() &&
           ogg::PageHeader(head).FirstOfStream();
}

bool TitleFiles::Write(const QByteArray& bytes) {
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = m_file->write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            m_error = Describe(*m_file);
            return false;
        }
        done += n;
    }
    return true;
}

bool TitleFiles::Copy(qint64 to) {
    const bool ts = m_format == AudioFormat::Ts;
    if (ts)
        to = m_pos + std::max<qint64>(to - m_pos, 0) / kPacket * kPacket;
    QByteArray block;
    QByteArray audio;
    while (m_pos < to) {
        if (!m_file && !Open())
            return false;
        block.resize(std::min(ts ? kBlock / kPacket * kPacket : kBlock, to - m_pos));
        qint64 n = m_buffer.Read(m_pos, block.data(), block.size());
        if (ts)
            n = n / kPacket * kPacket;
        if (n <= 0) {
            m_error = QStringLiteral("the live buffer no longer holds the audio to write");
            return false;
        }
        block.resize(n);
        if (ts) {
            audio.clear();
            for (qint64 i = 0; i < n; i += kPacket)
                m_ts.Packet(At(block, i), &audio);
        }
        if (!Write(ts ? audio : block))
            return false;
        m_pos += n;
    }
    return true;
}

QString TitleFiles::Unrecordable(const LiveBuffer& buffer) {
    const qint64 entry = buffer.EntryAtOrBefore(buffer.End());
    QByteArray head(8, '\0');
    if (entry < 0 || buffer.Read(entry, head.data(), head.size()) != head.size() ||
        !FragmentedMp4At(head))
        return {};
    return QStringLiteral("fragmented MP4 segments (HLS) cannot be recorded");
}

} // namespace didira
