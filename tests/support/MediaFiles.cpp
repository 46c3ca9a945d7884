#include "support/MediaFiles.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace didira::test::media {

namespace {

// Runs ffmpeg on a sine tone with the given output arguments; false on failure.
bool Ffmpeg(const QString& tone, const QStringList& output) {
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  QStringList{QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                              QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                              QStringLiteral("lavfi"), QStringLiteral("-i"), tone,
                              QStringLiteral("-ac"), QStringLiteral("2")} +
                      output);
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
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

QByteArray Mp3Loop() {
    static const QByteArray data = [] {
        const QString path = Dir() + QStringLiteral("/loop.mp3");
        if (!Available() ||
            !Ffmpeg(QStringLiteral("sine=frequency=440:duration=4"),
                    {QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"),
                     QStringLiteral("128k"), QStringLiteral("-write_xing"), QStringLiteral("0"),
                     QStringLiteral("-id3v2_version"), QStringLiteral("0"), QStringLiteral("-f"),
                     QStringLiteral("mp3"), path}))
            return QByteArray();
        return Read(path);
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
                        {QStringLiteral("-c:a"), QStringLiteral("libvorbis"),
                         QStringLiteral("-b:a"), QStringLiteral("64k"), QStringLiteral("-metadata"),
                         QStringLiteral("title=Track %1").arg(i + 1), QStringLiteral("-fflags"),
                         QStringLiteral("+bitexact"), QStringLiteral("-serial_offset"),
                         QString::number(1000 * (i + 1)), QStringLiteral("-f"),
                         QStringLiteral("ogg"), path}))
                return std::vector<QByteArray>();
            out.push_back(Read(path));
        }
        return out;
    }();
    return tracks;
}

const HlsSegments& Hls(bool fmp4) {
    static const auto make = [](bool fragmented) {
        HlsSegments out;
        const QString dir = Dir() + (fragmented ? QStringLiteral("/fmp4") : QStringLiteral("/ts"));
        QDir().mkpath(dir);
        out.suffix = fragmented ? QStringLiteral("m4s") : QStringLiteral("ts");
        out.contentType = fragmented ? "video/iso.segment" : "video/mp2t";
        QStringList args{QStringLiteral("-c:a"),
                         QStringLiteral("aac"),
                         QStringLiteral("-b:a"),
                         QStringLiteral("64k"),
                         QStringLiteral("-f"),
                         QStringLiteral("hls"),
                         QStringLiteral("-hls_time"),
                         QStringLiteral("2"),
                         QStringLiteral("-hls_list_size"),
                         QStringLiteral("0"),
                         QStringLiteral("-hls_segment_filename"),
                         dir + QStringLiteral("/seg%d.") + out.suffix};
        if (fragmented)
            args << QStringLiteral("-hls_segment_type") << QStringLiteral("fmp4")
                 << QStringLiteral("-hls_fmp4_init_filename") << QStringLiteral("init.mp4");
        args << dir + QStringLiteral("/index.m3u8");
        if (!Available() || !Ffmpeg(QStringLiteral("sine=frequency=500:duration=40"), args))
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
    };
    static const HlsSegments ts = make(false);
    static const HlsSegments fragmented = make(true);
    return fmp4 ? fragmented : ts;
}

} // namespace didira::test::media
