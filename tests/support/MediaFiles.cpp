#include "support/MediaFiles.h"

#include "support/TestSupport.h"
#include "support/TsWriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <gst/pbutils/pbutils.h>

namespace didira::test::media {

namespace {

// Runs ffmpeg on a sine tone (in stereo) with the output options (split at
// spaces) and then the given arguments (paths); false on failure.
bool Ffmpeg(const QString& tone, const QString& options, const QStringList& paths) {
    QProcess process;
    process.start(Program(QStringLiteral("ffmpeg")),
                  QStringLiteral("-nostdin -loglevel error -y -f lavfi -i %1 -ac 2 %2")
                          .arg(tone, options)
                          .split(u' ', Qt::SkipEmptyParts) +
                      paths);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Dir() {
    static const QString dir = TempDir();
    return dir;
}

} // namespace

bool Available() {
    return !Program(QStringLiteral("ffmpeg")).isEmpty();
}

QByteArray ToneMp3() {
    static const QByteArray data = [] {
        const QString path = Dir() + QStringLiteral("/tone.mp3");
        return Available() && Ffmpeg(QStringLiteral("sine=frequency=440:duration=8"),
                                     QStringLiteral("-b:a 128k"), {path})
                   ? Read(path)
                   : QByteArray();
    }();
    return data;
}

QByteArray Mp3Loop() {
    static const QByteArray data = [] {
        const QString path = Dir() + QStringLiteral("/loop.mp3");
        return Available() && Ffmpeg(QStringLiteral("sine=frequency=440:duration=4"),
                                     QStringLiteral("-c:a libmp3lame -b:a 128k -write_xing 0 "
                                                    "-id3v2_version 0 -f mp3"),
                                     {path})
                   ? Read(path)
                   : QByteArray();
    }();
    return data;
}

std::vector<QByteArray> OggChain() {
    static const std::vector<QByteArray> tracks = [] {
        std::vector<QByteArray> out;
        if (!Available())
            return out;
        for (int i = 0; i < 2; ++i) {
            const QString path = Dir() + QStringLiteral("/track%1.ogg").arg(i);
            if (!Ffmpeg(QStringLiteral("sine=frequency=%1:duration=3").arg(440 + 220 * i),
                        QStringLiteral("-c:a libvorbis -b:a 64k -metadata title=Track_%1 "
                                       "-fflags +bitexact -serial_offset %2 -f ogg")
                            .arg(i + 1)
                            .arg(1000 * (i + 1)),
                        {path}))
                return std::vector<QByteArray>();
            out.push_back(Read(path));
        }
        return out;
    }();
    return tracks;
}

QByteArray OggTrack(int seconds) {
    if (!Available())
        return QByteArray();
    const QString path = Dir() + QStringLiteral("/long%1.ogg").arg(seconds);
    if (!QFile::exists(path) &&
        !Ffmpeg(QStringLiteral("sine=frequency=550:duration=%1").arg(seconds),
                QStringLiteral("-c:a libvorbis -b:a 64k -fflags +bitexact -f ogg"), {path}))
        return QByteArray();
    return Read(path);
}

namespace {

// The title frames of segment `index`'s ID3 tag, as Hls describes them.
QByteArray TitleFrames(std::size_t index) {
    const char utf8 = 3, latin1 = 0; // the text frames' encoding byte
    switch (index % 3) {
    case 0: {
        const QStringList parts = QString::fromUtf16(kHlsFirstTitle).split(QStringLiteral(" - "));
        return ts::Id3Frame("TPE1", utf8 + parts[0].toUtf8()) +
               ts::Id3Frame("TIT2", utf8 + parts[1].toUtf8());
    }
    case 1: // kHlsSecondTitle in Shift_JIS
        return ts::Id3Frame("TIT2",
                            latin1 + QByteArray::fromHex("8da196e982cc838a834e834783588367"));
    default:
        return QByteArray();
    }
}

// The ID3 tag that heads packed-audio segment `index`, which starts at pts
// (90 kHz): the timestamp HLS asks for, then the title.
QByteArray PackedAudioTag(std::size_t index, quint64 pts) {
    QByteArray stamp(8, '\0');
    for (int i = 0; i < 8; ++i)
        stamp[7 - i] = static_cast<char>((pts >> (8 * i)) & 0xff);
    return ts::Id3Tag(
        ts::Id3Frame("PRIV",
                     QByteArray("com.apple.streaming.transportStreamTimestamp", 45) + stamp) +
        TitleFrames(index));
}

// Six 2 s segments of ADTS AAC, each headed by its ID3 tag.
HlsSegments MakePackedAudio() {
    HlsSegments out;
    out.suffix = QStringLiteral("aac");
    out.contentType = "audio/aac";
    const QString path = Dir() + QStringLiteral("/packed.aac");
    if (!Available() || !Ffmpeg(QStringLiteral("sine=frequency=500:duration=12.2"),
                                QStringLiteral("-ar 48000 -c:a aac -b:a 64k -f adts"), {path}))
        return out;
    const QByteArray aac = Read(path);
    // ADTS frames of 1024 samples at 48 kHz; 94 of them make 2.005 s.
    constexpr int kFrames = 94, kSegments = 6;
    std::vector<qsizetype> starts;
    for (qsizetype at = 0; at + 7 <= aac.size();) {
        const auto* h = reinterpret_cast<const unsigned char*>(aac.constData() + at);
        const qsizetype length = ((h[3] & 0x03) << 11) | (h[4] << 3) | (h[5] >> 5);
        if (h[0] != 0xff || (h[1] & 0xf0) != 0xf0 || length < 7)
            return out;
        starts.push_back(at);
        at += length;
    }
    starts.push_back(aac.size());
    if (starts.size() < kFrames * kSegments + 1)
        return out;
    for (int i = 0; i < kSegments; ++i) {
        const qsizetype from = starts[static_cast<std::size_t>(i * kFrames)];
        const qsizetype to = starts[static_cast<std::size_t>((i + 1) * kFrames)];
        const quint64 pts = static_cast<quint64>(i) * kFrames * 1024 * 90000 / 48000;
        out.media.push_back(PackedAudioTag(static_cast<std::size_t>(i), pts) +
                            aac.mid(from, to - from));
        out.durations.push_back(kFrames * 1024 / 48000.0);
    }
    return out;
}

HlsSegments MakeSegmented(bool fragmented) {
    HlsSegments out;
    const QString dir = Dir() + (fragmented ? QStringLiteral("/fmp4") : QStringLiteral("/ts"));
    QDir().mkpath(dir);
    out.suffix = fragmented ? QStringLiteral("m4s") : QStringLiteral("ts");
    out.contentType = fragmented ? "video/iso.segment" : "video/mp2t";
    QString options = QStringLiteral("-c:a aac -b:a 64k -f hls -hls_time 2 -hls_list_size 0");
    if (fragmented)
        options += QStringLiteral(" -hls_segment_type fmp4 -hls_fmp4_init_filename init.mp4");
    if (!Available() || !Ffmpeg(QStringLiteral("sine=frequency=500:duration=40"), options,
                                {QStringLiteral("-hls_segment_filename"),
                                 dir + QStringLiteral("/seg%d.") + out.suffix,
                                 dir + QStringLiteral("/index.m3u8")}))
        return out;
    if (fragmented)
        out.init = Read(dir + QStringLiteral("/init.mp4"));
    // The durations ffmpeg wrote, in order.
    static const QRegularExpression extinf(QStringLiteral("#EXTINF:([0-9.]+)"));
    auto it = extinf.globalMatch(QString::fromUtf8(Read(dir + QStringLiteral("/index.m3u8"))));
    for (int i = 0; it.hasNext(); ++i) {
        out.durations.push_back(it.next().captured(1).toDouble());
        out.media.push_back(Read(dir + QStringLiteral("/seg%1.").arg(i) + out.suffix));
    }
    return out;
}

// The MPEG-TS segments with a timed ID3 stream added.
HlsSegments WithTimedId3(const HlsSegments& plain) {
    HlsSegments out = plain;
    std::uint8_t continuity = 0;
    for (std::size_t i = 0; i < out.media.size(); ++i)
        out.media[i] = ts::WithTimedId3(out.media[i], ts::Id3Tag(TitleFrames(i)), continuity);
    return out;
}

} // namespace

const HlsSegments& Hls(HlsKind kind) {
    switch (kind) {
    case HlsKind::MpegTs: {
        static const HlsSegments mpegTs = MakeSegmented(false);
        return mpegTs;
    }
    case HlsKind::MpegTsTimedId3: {
        static const HlsSegments timed = WithTimedId3(Hls(HlsKind::MpegTs));
        return timed;
    }
    case HlsKind::Fmp4: {
        static const HlsSegments fragmented = MakeSegmented(true);
        return fragmented;
    }
    case HlsKind::PackedAudio:
        break;
    }
    static const HlsSegments packed = MakePackedAudio();
    return packed;
}

QStringList AudioCodecs(const QString& path, QString* error) {
    GError* failure = nullptr;
    GstDiscoverer* discoverer = gst_discoverer_new(20 * GST_SECOND, &failure);
    QStringList codecs;
    GstDiscovererInfo* info =
        discoverer ? gst_discoverer_discover_uri(
                         discoverer, QUrl::fromLocalFile(path).toEncoded().constData(), &failure)
                   : nullptr;
    if (info && gst_discoverer_info_get_result(info) == GST_DISCOVERER_OK) {
        GList* streams = gst_discoverer_info_get_audio_streams(info);
        for (GList* s = streams; s; s = s->next) {
            GstCaps* caps =
                gst_discoverer_stream_info_get_caps(GST_DISCOVERER_STREAM_INFO(s->data));
            gchar* description = caps ? gst_pb_utils_get_codec_description(caps) : nullptr;
            codecs << QString::fromUtf8(description ? description : "unknown");
            g_free(description);
            if (caps)
                gst_caps_unref(caps);
        }
        gst_discoverer_stream_info_list_free(streams);
    } else if (error) {
        *error =
            failure ? QString::fromUtf8(failure->message) : QStringLiteral("not read as media");
    }
    if (info)
        g_object_unref(info);
    if (discoverer)
        g_object_unref(discoverer);
    g_clear_error(&failure);
    return codecs;
}

} // namespace didira::test::media
