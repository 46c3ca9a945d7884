#pragma once
// Parsing of playlist metafiles (ASX, PLS, M3U, [Reference]) into the stream
// URLs they name. Pure functions on bytes, without network or GUI, so that the
// same code runs in the resolver, the unit tests and the fuzzer.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <vector>

namespace didira::metafile {

enum class Format {
    None, // not a metafile (audio, HTML, anything else)
    Asx,
    Pls,
    M3u,
    Reference, // "[Reference]" files: Ref1=..., Ref2=...
    Hls,       // an HLS playlist: handed to the media engine as it is
};

struct Entry {
    QUrl url;
    bool nested = false; // names another metafile (an ASX <entryref>)
};

struct Result {
    Format format = Format::None;
    std::vector<Entry> entries; // in playing order; alternatives of one ASX entry in order
    QString error;              // why nothing could be taken, when entries is empty
};

// Decides the format from the content first, then from the content type and
// the file name's suffix (both may be empty).
Format Detect(const QByteArray& data, const QString& contentType, const QString& path);

// Parses data fetched from base. Relative references are resolved against
// base. Only http, https, rtsp and (for a local metafile only) file URLs are
// kept; entries with other schemes are dropped.
Result Parse(const QByteArray& data, const QUrl& base, const QString& contentType = QString());

// Whether a URL's path names a metafile by its suffix (.asx, .wax, .wvx, .pls,
// .m3u, ...). HLS (.m3u8) is not a metafile here: the engine plays it.
bool HasMetafileSuffix(const QUrl& url);

// Whether the first bytes of a body are media or other binary data rather
// than text (a stream served where a metafile was expected).
bool LooksBinary(const QByteArray& data);

// Replaces the character and numeric entity references in XML text.
QString DecodeEntities(QStringView text);

} // namespace didira::metafile
