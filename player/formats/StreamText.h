#pragma once
// Text a stream announces about itself (the title now playing), made fit to
// show: decoded from whatever bytes the station sent, without control
// characters. Pure functions, apart from the one-time process setting below.

#include <QByteArrayView>
#include <QString>

namespace didira {

// Decodes bytes as UTF-8 when they are valid UTF-8, else as CP932 when they
// are valid CP932 (many Japanese stations send Shift_JIS), else as Latin-1,
// which takes any bytes. Tabs and line breaks become spaces, other control
// characters (C0, DEL, C1) are removed, and surrounding white space is cut.
QString DecodeStreamText(QByteArrayView raw);

// The title shown for a title and an artist as a station names them:
// "Artist - Title", or the title alone; empty when there is no title. Both
// are decoded as by DecodeStreamText.
QString ShownTitle(QByteArrayView artist, QByteArrayView title);

// GStreamer's ICY demuxer, HTTP source and ID3 reader convert the station's
// bytes to UTF-8 themselves before any of our code sees them: valid UTF-8 as
// it is, then the encodings named by GST_ICY_TAG_ENCODING (ICY) or
// GST_ID3_TAG_ENCODING (ID3 frames marked Latin-1) and GST_TAG_ENCODING,
// then the locale's, then ISO-8859-1. Names CP932 there, so that they decode
// in DecodeStreamText's order, unless the user has named encodings already.
// Changes the environment: call once at start-up, before any thread runs.
void PrepareStreamTextEncoding();

} // namespace didira
