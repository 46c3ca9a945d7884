#include "ui/HistoryExport.h"

#include "control/SongHistory.h"

#include <QSaveFile>

namespace didira {

namespace {

QByteArray Field(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty() && QByteArrayView("=+-@\t\r").contains(bytes.front()))
        bytes.prepend('\'');
    const bool quote = bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') ||
                       bytes.contains('\r') ||
                       (!bytes.isEmpty() && (bytes.front() == ' ' || bytes.back() == ' '));
    if (!quote)
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

QByteArray Line(const QString& a, const QString& b, const QString& c) {
    return Field(a) + ',' + Field(b) + ',' + Field(c) + "\r\n";
}

} // namespace

QByteArray HistoryCsv(const std::vector<HeardEntry>& entries) {
    QByteArray csv = Line(QStringLiteral("日時"), QStringLiteral("放送局"), QStringLiteral("曲名"));
    for (const HeardEntry& entry : entries)
        csv += Line(HeardTimeText(entry.heardMs), entry.station, entry.title);
    return csv;
}

bool WriteHistoryCsv(const QString& path, const std::vector<HeardEntry>& entries, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(HistoryCsv(entries)) < 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace didira
