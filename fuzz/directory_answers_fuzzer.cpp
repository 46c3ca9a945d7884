// Feeds arbitrary bytes to the readers of the station directory's answers as
// if its server had sent them: a search, a mirror list, a click's answer.
#include "app/DirectoryAnswers.h"

#include <QByteArray>
#include <QUrl>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const didira::StationsAnswer answer = didira::ReadStations(body, 100);
    if (answer.stations.size() > 100)
        __builtin_trap();
    for (const didira::DirectoryStation& station : answer.stations) {
        // What is listed is a plain, bounded name and an http(s) address.
        const QUrl url(station.url);
        if (station.name.isEmpty() || station.name.size() > didira::kMaxStationName ||
            station.name.contains(u'\n') || (url.scheme() != u"http" && url.scheme() != u"https"))
            __builtin_trap();
    }
    QString error;
    for (const QString& host :
         didira::ReadMirrors(body, QStringLiteral("all.api.radio-browser.info"), &error)) {
        if (!host.endsWith(QStringLiteral(".api.radio-browser.info")) &&
            host != u"all.api.radio-browser.info")
            __builtin_trap();
    }
    (void)didira::ReadClick(body);
    return 0;
}
