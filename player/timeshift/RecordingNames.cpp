#include "player/timeshift/RecordingNames.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace didira {

namespace {

// A name is numbered up to " (999)" when taken.
constexpr int kNumberedNames = RecordingFileNames::kAttempts / 2;

QString DateTime(qint64 wallMs, const QString& format) {
    return QDateTime::fromMSecsSinceEpoch(std::max<qint64>(wallMs, 0)).toString(format);
}

} // namespace

QString DefaultRecordingFolder() {
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

QString MakeRecordingFolder(QString* folder) {
    if (folder->isEmpty())
        *folder = DefaultRecordingFolder();
    if (!QDir().mkpath(*folder))
        return QStringLiteral("cannot create the folder %1").arg(*folder);
    const QFileInfo info(*folder);
    if (!info.isDir() || !info.isWritable())
        return QStringLiteral("the folder %1 cannot be written to").arg(*folder);
    return {};
}

QString SafeFileName(const QString& text, int maxBytes) {
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

RecordingFileNames::RecordingFileNames(const QString& station, QString title, qint64 wallMs,
                                       const char* ext)
    : m_when(DateTime(wallMs, QStringLiteral(" yyyy-MM-dd HH.mm.ss"))), m_ext(ext) {
    if (title.trimmed().isEmpty())
        title = DateTime(wallMs, QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    const QString safeStation = SafeFileName(station);
    m_base = (safeStation.isEmpty() ? QString() : safeStation + QStringLiteral(" - ")) +
             SafeFileName(title);
}

QString RecordingFileNames::Name(int attempt) const {
    // Past " (999)" the name carries when the file starts, then a number.
    const int k = attempt < kNumberedNames ? attempt : attempt - kNumberedNames + 1;
    return m_base + (attempt < kNumberedNames ? QString() : m_when) +
           (k > 1 ? QStringLiteral(" (%1)").arg(k) : QString()) + QLatin1String(m_ext);
}

} // namespace didira
