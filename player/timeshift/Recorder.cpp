#include "player/timeshift/Recorder.h"

#include "player/formats/TsAudio.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
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
// A name is numbered up to " (999)" when taken.
constexpr int kNumberedNames = 1000;

enum class Format { Unknown, Mp3, Aac, Ogg, Ts }; // Ts: its audio is written

const uchar* At(const QByteArray& bytes, qint64 i) {
    return reinterpret_cast<const uchar*>(bytes.constData()) + i;
}

constexpr qint64 kPacket = TsAudio::kPacketSize;

// Whether a transport stream starts at i: three packets in a row (fewer at the
// end of what there is only when final).
bool TsAt(const QByteArray& bytes, qint64 i, bool final) {
    const qint64 n = bytes.size() - i;
    if (n < 3 * kPacket && !final)
        return false;
    for (qint64 k = 0; k < 3 && k * kPacket < n; ++k)
        if (!TsAudio::PacketAt(At(bytes, i + k * kPacket), n - k * kPacket))
            return false;
    return true;
}

// Whether bytes begin with a box of fragmented MP4 (HLS segments).
bool Mp4At(const QByteArray& bytes) {
    const QByteArray box = bytes.mid(4, 4);
    return box == "ftyp" || box == "styp" || box == "moof" || box == "sidx";
}

// The length of the MPEG audio frame whose header is at h; 0 when none is.
int Mp3FrameLength(const uchar* h) {
    static constexpr short kRates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // V1 L1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // V1 L2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // V1 L3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // V2 L1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // V2 L2, L3
    };
    static constexpr int kSampleRates[3] = {44100, 48000, 32000};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    const int version = (h[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = 4 - ((h[1] >> 1) & 3);
    const int rateIndex = h[2] >> 4;
    const int srIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 4 || rateIndex == 0 || rateIndex == 15 || srIndex == 3)
        return 0;
    const bool v1 = version == 3;
    const int kbps = kRates[v1 ? layer - 1 : (layer == 1 ? 3 : 4)][rateIndex];
    const int rate = kSampleRates[srIndex] >> (v1 ? 0 : version == 2 ? 1 : 2);
    const int pad = (h[2] >> 1) & 1;
    if (layer == 1)
        return (12000 * kbps / rate + pad) * 4;
    return (layer == 3 && !v1 ? 72000 : 144000) * kbps / rate + pad;
}

int AdtsFrameLength(const uchar* h) {
    if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0 || ((h[2] >> 2) & 0xF) > 12)
        return 0;
    const int length = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
    return length >= 7 ? length : 0;
}

// The length of the Ogg page at h (n bytes there); 0 when none starts there
// or its header is not all there.
int OggPageLength(const uchar* h, qint64 n) {
    if (n < 27 || memcmp(h, "OggS", 4) != 0 || h[4] != 0 || h[5] > 7 || n < 27 + h[26])
        return 0;
    int length = 27 + h[26];
    for (int i = 0; i < h[26]; ++i)
        length += h[27 + i];
    return length;
}

// The length of a frame or page of format at i; 0 when none is.
int UnitLength(Format format, const QByteArray& bytes, qint64 i) {
    const qint64 n = bytes.size() - i;
    switch (format) {
    case Format::Mp3:
        return n >= 4 ? Mp3FrameLength(At(bytes, i)) : 0;
    case Format::Aac:
        return n >= 7 ? AdtsFrameLength(At(bytes, i)) : 0;
    case Format::Ogg:
        return OggPageLength(At(bytes, i), n);
    case Format::Ts:
    case Format::Unknown:
        break;
    }
    return 0;
}

// Whether a frame or page of format starts at i: the next frame follows it
// (taken on trust at the end of what there is only when final); an Ogg page
// is told by its own header, and must not go on with a packet.
bool UnitAt(Format format, const QByteArray& bytes, qint64 i, bool final) {
    const int length = UnitLength(format, bytes, i);
    if (length == 0)
        return false;
    if (format == Format::Ogg)
        return (*At(bytes, i + 5) & 1) == 0;
    if (i + length + 7 <= bytes.size())
        return UnitLength(format, bytes, i + length) > 0;
    return final;
}

QByteArray Id3Size(qint64 n) {
    QByteArray size(4, '\0');
    for (int i = 0; i < 4; ++i)
        size[3 - i] = char((n >> (7 * i)) & 0x7F);
    return size;
}

// An ID3v2.4 tag: the title (TIT2) and the station as artist and album.
QByteArray Id3Tag(const QString& title, const QString& station) {
    QByteArray frames;
    const auto frame = [&](const char* id, const QString& text) {
        if (text.isEmpty())
            return;
        const QByteArray body = '\x03' + text.toUtf8(); // UTF-8
        frames += QByteArray(id) + Id3Size(body.size()) + QByteArray(2, '\0') + body;
    };
    frame("TIT2", title);
    frame("TPE1", station);
    frame("TALB", station);
    return QByteArray("ID3\x04\x00\x00", 6) + Id3Size(frames.size()) + frames;
}

// The files of one range, written as the range grows.
class TitleFiles {
public:
    TitleFiles(const LiveBuffer& buffer, QString folder, QString station, qint64 from)
        : m_buffer(buffer), m_folder(std::move(folder)), m_station(std::move(station)), m_pos(from),
          m_marksDone(from) {}

    // Writes on up to to; final: nothing more comes, so nothing waits for
    // more bytes. False with Error() when the disk or the buffer fails.
    bool WriteTo(qint64 to, bool final) {
        if (m_format == Format::Unknown && !Detect(to, final))
            return m_error.isEmpty();
        for (const LiveBuffer::Mark& mark : m_buffer.MarksIn(m_marksDone, to)) {
            qint64 split = FindUnit(mark.offset, to, final);
            if (split == -2) // not yet known where: what precedes the mark goes on
                return Copy(std::max(m_pos, mark.offset));
            split = std::max(split < 0 ? mark.offset : split, m_pos);
            if (!Copy(split) || !Close())
                return false;
            m_marksDone = mark.offset;
        }
        return Copy(to);
    }
    // Ends the file open: on the disk (flushed, synced, closed) or an error
    // naming it.
    bool Close() {
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
    QString Error() const { return m_error; }
    QStringList Files() const { return m_files; }

private:
    static QString Describe(const QFile& file) {
        return QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
    }

    // Which format the range is, and its first frame or page; false while
    // this cannot be told yet (or, with m_error, at all).
    bool Detect(qint64 to, bool final) {
        QByteArray bytes(std::min<qint64>(to - m_pos, kBlock), '\0');
        const qint64 n = m_buffer.Read(m_pos, bytes.data(), bytes.size());
        if (n < 0) {
            m_error = QStringLiteral("the live buffer no longer holds the audio to write");
            return false;
        }
        bytes.resize(n);
        if (Mp4At(bytes)) {
            m_error = QStringLiteral("fragmented MP4 segments (HLS) cannot be recorded");
            return false;
        }
        for (qint64 i = 0; i + 7 < n; ++i) {
            if (TsAt(bytes, i, final))
                return DetectTs(bytes, i, final);
            for (const Format format : {Format::Ogg, Format::Aac, Format::Mp3}) {
                if (UnitAt(format, bytes, i, final)) {
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

    // A transport stream from i in bytes (read at m_pos): the files start at
    // the first PES of its audio, once its programme map is read.
    bool DetectTs(const QByteArray& bytes, qint64 i, bool final) {
        for (; i + kPacket <= bytes.size(); i += kPacket) {
            if (m_ts.StartsAudio(At(bytes, i))) {
                m_format = Format::Ts;
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
    // The first packet boundary at or after at (the stream is read in whole
    // packets from m_pos on).
    qint64 PacketAtOrAfter(qint64 at) const {
        return at <= m_pos ? m_pos : m_pos + (at - m_pos + kPacket - 1) / kPacket * kPacket;
    }

    // The first frame or page at or after from; -1 when there is none near,
    // -2 when it cannot be told yet. In a transport stream, the first packet
    // starting a PES of its audio.
    qint64 FindUnit(qint64 from, qint64 to, bool final) {
        if (m_format == Format::Ts)
            from = PacketAtOrAfter(from);
        QByteArray bytes(std::min<qint64>(to - from, kSyncReach), '\0');
        const qint64 n = m_buffer.Read(from, bytes.data(), bytes.size());
        bytes.resize(std::max<qint64>(n, 0));
        if (m_format == Format::Ts) {
            for (qint64 i = 0; i + kPacket <= bytes.size(); i += kPacket)
                if (m_ts.StartsAudio(At(bytes, i)))
                    return from + i;
        } else {
            for (qint64 i = 0; i < bytes.size(); ++i)
                if (UnitAt(m_format, bytes, i, final))
                    return from + i;
        }
        return final || bytes.size() >= kSyncReach ? -1 : -2;
    }

    bool Open() {
        QString title = m_buffer.TitleAt(m_pos);
        if (title.trimmed().isEmpty())
            title = QDateTime::fromMSecsSinceEpoch(std::max<qint64>(m_buffer.WallTimeAt(m_pos), 0))
                        .toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
        const QString station = Recorder::SafeFileName(m_station);
        const QString base = (station.isEmpty() ? QString() : station + QStringLiteral(" - ")) +
                             Recorder::SafeFileName(title);
        const Format audio = AudioFormat();
        const char* ext = audio == Format::Mp3 ? ".mp3" : audio == Format::Aac ? ".aac" : ".ogg";
        // Past " (999)" the name carries when the file starts, then a number.
        const QString when =
            QDateTime::fromMSecsSinceEpoch(std::max<qint64>(m_buffer.WallTimeAt(m_pos), 0))
                .toString(QStringLiteral(" yyyy-MM-dd HH.mm.ss"));
        for (int n = 1;; ++n) {
            const int k = n < kNumberedNames ? n : n - kNumberedNames + 1;
            const QString name = base + (n < kNumberedNames ? QString() : when) +
                                 (k > 1 ? QStringLiteral(" (%1)").arg(k) : QString()) +
                                 QLatin1String(ext);
            m_file = std::make_unique<QFile>(QDir(m_folder).filePath(name));
            // Unbuffered: a failed write is seen (and told) where it happens.
            if (m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
                break;
            if (!m_file->exists() || n >= 2 * kNumberedNames) {
                m_error = Describe(*m_file);
                m_file.reset();
                return false;
            }
        }
        m_files << m_file->fileName();
        QByteArray head;
        if (audio == Format::Mp3)
            head = Id3Tag(m_buffer.TitleAt(m_pos), m_station);
        if (m_format == Format::Ogg && !StartsChain())
            head = m_buffer.HeadersAt(m_pos);
        return Write(head);
    }
    // The format of the files: that of the audio in a transport stream.
    Format AudioFormat() const {
        if (m_format != Format::Ts)
            return m_format;
        return m_ts.AudioCodec() == TsAudio::Codec::Mp3 ? Format::Mp3 : Format::Aac;
    }
    bool StartsChain() const {
        char flags = 0;
        return m_buffer.Read(m_pos + 5, &flags, 1) == 1 && (flags & 2);
    }
    // A write cut short (the disk just filled) reports no error of its own:
    // the rest is written again, which fails with the reason.
    bool Write(const QByteArray& bytes) {
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
    // Writes on up to `to` into the file open (one opened when none is).
    // A transport stream goes in whole packets, as its audio.
    bool Copy(qint64 to) {
        const bool ts = m_format == Format::Ts;
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

    const LiveBuffer& m_buffer;
    const QString m_folder;
    const QString m_station;
    Format m_format = Format::Unknown;
    TsAudio m_ts;       // a transport stream's tables, as read so far
    qint64 m_pos;       // the next byte to write
    qint64 m_marksDone; // marks up to here have split the files
    std::unique_ptr<QFile> m_file;
    QStringList m_files;
    QString m_error;
};

// Why what the buffer keeps cannot be recorded, told from the segment it
// is in now (an HLS stream's); empty when it may be.
QString Unrecordable(const LiveBuffer& buffer) {
    const qint64 entry = buffer.EntryAtOrBefore(buffer.End());
    QByteArray head(8, '\0');
    if (entry < 0 || buffer.Read(entry, head.data(), head.size()) != head.size() || !Mp4At(head))
        return {};
    return QStringLiteral("fragmented MP4 segments (HLS) cannot be recorded");
}

QString MakeFolder(QString* folder) {
    if (folder->isEmpty())
        *folder = Recorder::DefaultFolder();
    if (!QDir().mkpath(*folder))
        return QStringLiteral("cannot create the folder %1").arg(*folder);
    const QFileInfo info(*folder);
    if (!info.isDir() || !info.isWritable())
        return QStringLiteral("the folder %1 cannot be written to").arg(*folder);
    return {};
}

} // namespace

QString Recorder::DefaultFolder() {
    const QString home = QDir::homePath();
    QString music = qEnvironmentVariable("XDG_MUSIC_DIR");
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = home + QStringLiteral("/.config");
    QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
    if (dirs.open(QIODevice::ReadOnly | QIODevice::Text)) {
        static const QRegularExpression line(
            QStringLiteral("^\\s*XDG_MUSIC_DIR\\s*=\\s*\"(.*)\"\\s*$"));
        for (const QByteArray& text : dirs.readAll().split('\n')) {
            const QRegularExpressionMatch match = line.match(QString::fromUtf8(text));
            if (match.hasMatch())
                music = match.captured(1).replace(QStringLiteral("$HOME"), home);
        }
    }
    if (music.isEmpty() || QDir::isRelativePath(music))
        music = home + QStringLiteral("/Music");
    return music + QStringLiteral("/Didira");
}

QString Recorder::SafeFileName(const QString& text, int maxBytes) {
    static const QString kUnsafe = QStringLiteral("/\\:*?\"<>|");
    QString safe;
    int bytes = 0;
    for (const uint c : text.trimmed().toUcs4()) {
        const bool control = c < 0x20 || (c >= 0x7F && c < 0xA0);
        const QString piece = control || (c < 0x80 && kUnsafe.contains(QChar(c)))
                                  ? QStringLiteral("_")
                                  : QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1);
        bytes += piece.toUtf8().size();
        if (bytes > maxBytes)
            break;
        safe += piece;
    }
    return safe.trimmed();
}

QString Recorder::SaveRange(const LiveBuffer& buffer, qint64 from, qint64 to, QString folder,
                            const QString& station, QStringList* files) {
    QString error = MakeFolder(&folder);
    if (!error.isEmpty())
        return error;
    TitleFiles writer(buffer, folder, station, from);
    const bool ok = writer.WriteTo(to, true) && writer.Close();
    if (files)
        *files = writer.Files();
    return ok ? QString() : writer.Error();
}

Recorder::Recorder(std::shared_ptr<const LiveBuffer> buffer, QString folder, QString station,
                   Report started, Report failed)
    : m_buffer(std::move(buffer)),
      m_thread(&Recorder::Run, this, std::move(folder), std::move(station), std::move(started),
               std::move(failed)) {}

Recorder::~Recorder() {
    Stop();
    m_thread.join();
}

void Recorder::Stop() {
    std::lock_guard lock(m_mutex);
    m_bStop = true;
    m_wake.notify_all();
}

QStringList Recorder::Files() const {
    std::lock_guard lock(m_mutex);
    return m_files;
}

void Recorder::Run(QString folder, QString station, Report started, Report failed) {
    QString error = Unrecordable(*m_buffer);
    if (error.isEmpty())
        error = MakeFolder(&folder);
    started(error);
    if (!error.isEmpty())
        return;
    TitleFiles writer(*m_buffer, folder, station, m_buffer->End());
    for (bool stopping = false; !stopping;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_bStop; });
            stopping = m_bStop;
        }
        // A buffer that lost bytes ends the recording: what it kept is written.
        const bool lost = m_buffer->Lost();
        const bool ok = writer.WriteTo(m_buffer->End(), stopping || lost) &&
                        (!(stopping || lost) || writer.Close());
        {
            std::lock_guard lock(m_mutex);
            m_files = writer.Files();
        }
        if (!ok || lost) {
            const QString why =
                ok ? QStringLiteral("the live buffer failed (%1)").arg(m_buffer->Error())
                   : writer.Error();
            writer.Close();
            failed(why);
            return;
        }
    }
}

} // namespace didira
