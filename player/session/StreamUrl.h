#pragma once
// What the player accepts to open: a stream or metafile URL over http, https
// or rtsp, or a local file (by URL or by plain path).

#include <QString>
#include <QUrl>
#include <cstdint>

namespace didira {

bool IsNetworkUrl(const QUrl& url); // http, https, rtsp
bool IsHttpUrl(const QUrl& url);    // http, https

struct OpenTarget {
    QUrl url;              // valid when code is 0
    std::int32_t code = 0; // else the error code, with reason for the user
    QString reason;
};

// Understands text as given to Open.
OpenTarget ParseOpenTarget(const QString& text);

} // namespace didira
