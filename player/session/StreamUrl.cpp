#include "player/session/StreamUrl.h"

#include "player/session/StreamErrors.h"

namespace didira {

bool IsNetworkUrl(const QUrl& url) {
    const QString s = url.scheme().toLower();
    return s == u"http" || s == u"https" || s == u"rtsp";
}

bool IsHttpUrl(const QUrl& url) {
    const QString s = url.scheme().toLower();
    return s == u"http" || s == u"https";
}

OpenTarget ParseOpenTarget(const QString& given) {
    const QString text = given.trimmed();
    if (text.isEmpty())
        return {{}, playererror::InvalidArgument, QStringLiteral("URL が指定されていません。")};
    const QUrl parsed = text.contains(u"://")
                            ? QUrl(text, QUrl::TolerantMode)
                            : QUrl::fromUserInput(text, QString(), QUrl::AssumeLocalFile);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || !(IsNetworkUrl(parsed) || scheme == u"file"))
        return {{},
                playererror::Unsupported,
                QStringLiteral("対応していないプロトコルです (%1)。").arg(scheme)};
    if (IsNetworkUrl(parsed) && parsed.host().isEmpty())
        return {{}, playererror::InvalidArgument, QStringLiteral("URL にサーバー名がありません。")};
    return {parsed, 0, {}};
}

} // namespace didira
