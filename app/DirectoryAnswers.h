#pragma once
// The community station directory's JSON answers, read as untrusted input:
// the station search (an array of station objects), the mirror list (an
// array of {ip, name}) and the click counter ({ok, message, ...}). An answer
// of the wrong shape is refused whole, with the reason in Japanese; a station
// without a usable id, name or http(s) address is left out and counted. Texts
// are bounded and lose control and format characters, so that what is shown
// or written into the catalogue is one plain line.

#include <QList>
#include <QString>
#include <QStringList>

class QByteArray;

namespace didira {

// One station as the window shows and adds it.
struct DirectoryStation {
    QString uuid; // "stationuuid", a UUID
    QString name;
    QString url;     // "url_resolved" (else "url"), http or https, fully encoded
    QString codec;   // as the directory names it ("MP3", "AAC+")
    int bitrate = 0; // kbit/s; 0 when unknown
    int votes = 0;
    QString countryCode; // two upper-case letters, or empty
    QString country;
    QString language;
    QString tags;
};

struct StationsAnswer {
    QList<DirectoryStation> stations; // in the answer's order
    int left = 0;                     // entries left out
    QString leftReason;               // why the first of them was
    QString error;                    // non-empty: the whole answer was refused, why
};

// Names longer than this are refused, as the directory itself refuses them.
inline constexpr int kMaxStationName = 400;

// Reads a search answer; more than maxStations entries refuse it.
StationsAnswer ReadStations(const QByteArray& body, int maxStations);

// The mirrors' host names from a mirror list, deduplicated, in the answer's
// order. Only names of the base's own domain are taken (for an address or a
// one-label base host, that host itself). error tells why the answer was
// refused (then the result is empty).
QStringList ReadMirrors(const QByteArray& body, const QString& baseHost, QString* error);

// Whether a click counter's answer says that the click was counted.
bool ReadClick(const QByteArray& body);

} // namespace didira
