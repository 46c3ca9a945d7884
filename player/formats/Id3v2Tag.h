#pragma once
// The ID3v2.4 tag that heads a recorded MP3 file: the title (TIT2) and the
// station as artist (TPE1) and album (TALB), in UTF-8; empty texts left out.

#include <QByteArray>
#include <QString>

namespace didira {

QByteArray Id3v2Tag(const QString& title, const QString& station);

} // namespace didira
