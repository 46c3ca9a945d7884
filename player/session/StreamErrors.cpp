#include "player/session/StreamErrors.h"

namespace didira {

namespace {

StreamFailure Make(FailureKind kind, std::int32_t code, QString reason,
                   bool mayBeMetafile = false) {
    return {kind, code, std::move(reason), mayBeMetafile};
}

StreamFailure HostNotFound(const QString& host) {
    return Make(FailureKind::HostNotFound, playererror::HostNotFound,
                CommonReasonText(CommonReason::HostNotFound, host));
}

StreamFailure NoAnswerInTime() {
    return Make(FailureKind::Timeout, playererror::Timeout,
                CommonReasonText(CommonReason::NoAnswer));
}

StreamFailure FromStatus(int status) {
    if (status >= 300 && status < 400)
        return Make(FailureKind::TooManyRedirects, playererror::TooManyRedirects,
                    QStringLiteral("転送 (リダイレクト) が多すぎるか、循環しています (HTTP %1)。")
                        .arg(status));
    if (status >= 500)
        return Make(FailureKind::HttpServerError, playererror::HttpServerError,
                    HttpStatusReason(status));
    return Make(FailureKind::HttpClientError, playererror::HttpClientError,
                HttpStatusReason(status));
}

// The source failed before the server said anything.
StreamFailure WithoutAnswer(const StreamFailureFacts& f) {
    switch (f.check) {
    case ConnectCheck::HostNotFound:
        return HostNotFound(f.host);
    case ConnectCheck::Refused:
        return Make(FailureKind::Refused, playererror::ConnectionRefused,
                    CommonReasonText(CommonReason::Refused));
    case ConnectCheck::Unreachable:
        return Make(FailureKind::Refused, playererror::ConnectionRefused,
                    QStringLiteral("サーバーに接続できません (サーバーに届きません)。"));
    case ConnectCheck::TimedOut:
        return Make(FailureKind::Timeout, playererror::Timeout,
                    QStringLiteral("サーバーに接続できません (タイムアウト)。"));
    case ConnectCheck::TlsFailed:
        return Make(FailureKind::Tls, playererror::TlsFailure,
                    QStringLiteral("サーバーと安全な接続 (TLS) を確立できません (https "
                                   "に対応していないサーバーです)。"));
    case ConnectCheck::TlsUntrusted:
        return Make(FailureKind::Tls, playererror::TlsFailure,
                    QStringLiteral("サーバーの証明書が信頼できません (発行元を確認できません)。"));
    case ConnectCheck::TlsExpired:
        return Make(FailureKind::Tls, playererror::TlsFailure,
                    QStringLiteral("サーバーの証明書の有効期限が切れています。"));
    case ConnectCheck::TlsWrongHost:
        return Make(FailureKind::Tls, playererror::TlsFailure,
                    QStringLiteral("サーバーの証明書が別のサーバー名のものです。"));
    case ConnectCheck::Connected:
        if (f.sourceTimedOut)
            return NoAnswerInTime();
        return Make(FailureKind::ClosedWithoutStream, playererror::Network,
                    QStringLiteral("サーバーが応答せずに接続を閉じました。"));
    case ConnectCheck::NotRun:
        break;
    }
    if (f.sourceTimedOut)
        return NoAnswerInTime();
    return Make(FailureKind::Refused, playererror::ConnectionRefused,
                QStringLiteral("サーバーに接続できません (接続が拒否されたか、届きません)。"));
}

} // namespace

QString FailureMessage(const QString& url, const QUrl& stream, const QString& reason, bool lost) {
    const QUrl given(url.trimmed(), QUrl::TolerantMode);
    QString where = given.userInfo().isEmpty() ? url : given.toString(QUrl::RemoveUserInfo);
    if (!stream.isEmpty())
        where += QStringLiteral("\nストリーム: ") + stream.toString(QUrl::RemoveUserInfo);
    return QStringLiteral("%1\n\nURL: %2\n理由: %3")
        .arg(lost ? QStringLiteral("ストリームとの接続が切れ、再接続できませんでした。")
                  : QStringLiteral("ストリームを開けませんでした。"),
             where, reason);
}

QString CommonReasonText(CommonReason reason, const QString& host) {
    switch (reason) {
    case CommonReason::HostNotFound:
        return host.isEmpty() ? QStringLiteral("サーバーが見つかりません。")
                              : QStringLiteral("サーバー %1 が見つかりません。").arg(host);
    case CommonReason::NoAnswer:
        return QStringLiteral("サーバーが応答しません。");
    case CommonReason::Refused:
        return QStringLiteral("サーバーに接続できません (接続が拒否されました)。");
    }
    return QString();
}

QString HttpStatusReason(int status) {
    switch (status) {
    case 401:
    case 403:
        return QStringLiteral("サーバーがアクセスを拒否しました (HTTP %1)。").arg(status);
    case 404:
        return QStringLiteral("サーバーにストリームが見つかりません (HTTP 404)。");
    default:
        return status >= 500
                   ? QStringLiteral("サーバーでエラーが発生しました (HTTP %1)。").arg(status)
                   : QStringLiteral("サーバーがエラーを返しました (HTTP %1)。").arg(status);
    }
}

namespace {

// A failure that is not the engine's error (origin other than Pipeline).
StreamFailure FromOrigin(const StreamFailureFacts& f) {
    using Origin = StreamFailureFacts::Origin;
    switch (f.origin) {
    case Origin::NameLookup:
        return HostNotFound(f.host);
    case Origin::OpenTimer:
        if (f.answered)
            return Make(FailureKind::NotAudio, playererror::NotAudio,
                        QStringLiteral("サーバーからデータは届いていますが、再生できる音声が"
                                       "含まれていません。"),
                        false);
        return NoAnswerInTime();
    case Origin::EndOfStream:
        return Make(FailureKind::ClosedWithoutStream, playererror::Network,
                    QStringLiteral("サーバーがストリームを送らずに接続を閉じました。"), true);
    case Origin::TooManyRedirects:
        return Make(
            FailureKind::TooManyRedirects, playererror::TooManyRedirects,
            QStringLiteral("リダイレクトが多すぎます (%1 回を超えました)。").arg(f.maxRedirects));
    case Origin::RedirectLoop:
        return Make(FailureKind::TooManyRedirects, playererror::TooManyRedirects,
                    QStringLiteral("リダイレクトがループしています。"));
    case Origin::BadRedirect:
        return Make(FailureKind::HttpClientError, playererror::HttpClientError,
                    QStringLiteral("サーバーのリダイレクト先が正しくありません。"));
    case Origin::Stalled:
        return Make(FailureKind::ReadFailed, playererror::StreamLost,
                    f.playlist ? QStringLiteral("プレイリストが更新されず、音声が %1 "
                                                "秒間届いていません。")
                                     .arg(f.stalledSeconds)
                               : QStringLiteral("サーバーから音声が %1 秒間届いていません。")
                                     .arg(f.stalledSeconds));
    case Origin::Pipeline:
        break;
    }
    return {};
}

// An error of the engine, by what the run found missing, the server's answer
// and the error's domain.
StreamFailure FromPipeline(const StreamFailureFacts& f) {
    if (!f.missingPackage.isEmpty())
        return Make(FailureKind::MissingPlugin, playererror::MissingPlugin,
                    QStringLiteral("再生に必要なプラグイン (%1) がインストールされていません。"
                                   "パッケージ %2 をインストールしてください。")
                        .arg(f.missingPlugin, f.missingPackage));

    if (f.network && f.httpStatus >= 300)
        return FromStatus(f.httpStatus);
    if (f.network && !f.answered)
        return WithoutAnswer(f);

    const bool html = f.contentType.contains(u"html", Qt::CaseInsensitive);
    switch (f.domain) {
    case ErrorDomain::Resource:
        if (!f.network && f.code == kResourceNotFound)
            return Make(FailureKind::FileNotFound, playererror::Network,
                        QStringLiteral("ファイルが見つかりません。"));
        if (f.network && f.code == kResourceNotAuthorized)
            return FromStatus(403);
        return Make(FailureKind::ReadFailed, playererror::Network,
                    QStringLiteral("ストリームを読み込めません (%1)。").arg(f.detail));
    case ErrorDomain::Stream:
        break;
    case ErrorDomain::Core:
        if (f.code == kCoreMissingPlugin)
            break;
        [[fallthrough]];
    case ErrorDomain::Library:
    case ErrorDomain::None:
        // The audio output or the engine itself.
        return Make(FailureKind::Unsupported, playererror::Unsupported,
                    QStringLiteral("再生できません (%1)。").arg(f.detail));
    }
    if (html)
        return Make(FailureKind::NotAudio, playererror::NotAudio, WebPageReason(f.contentType),
                    true);
    return Make(FailureKind::NotAudio, playererror::NotAudio,
                QStringLiteral("音声ストリームではないか、対応していない形式です。"), true);
}

} // namespace

StreamFailure ClassifyStreamFailure(const StreamFailureFacts& f) {
    return f.origin == StreamFailureFacts::Origin::Pipeline ? FromPipeline(f) : FromOrigin(f);
}

QString NoAudioOutputReason() {
    return QStringLiteral("音声を出力できません。使用できるサウンド出力がありません。");
}

QString WebPageReason(const QString& contentType) {
    return QStringLiteral("音声ではなく Web ページ (%1) が返されました。").arg(contentType);
}

} // namespace didira
