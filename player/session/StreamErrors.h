#pragma once
// Why a stream failed, decided from structured facts only (error domain and
// code, HTTP status, the name lookup, the connection check and the session's
// timers), never from message text, which GStreamer translates. Each kind
// has its own error code and Japanese reason.

#include "player/engine/ErrorDomain.h"

#include <QString>
#include <QUrl>
#include <cstdint>

namespace didira {

// Error codes of the player control (ErrorCode, DispatchError).
namespace playererror {
inline constexpr std::int32_t HostNotFound = static_cast<std::int32_t>(0x8004D001u);
inline constexpr std::int32_t ConnectionRefused = static_cast<std::int32_t>(0x8004D002u);
inline constexpr std::int32_t HttpClientError = static_cast<std::int32_t>(0x8004D003u); // 4xx
inline constexpr std::int32_t NotAudio = static_cast<std::int32_t>(0x8004D004u);
inline constexpr std::int32_t Timeout = static_cast<std::int32_t>(0x8004D005u);
inline constexpr std::int32_t Metafile = static_cast<std::int32_t>(0x8004D006u);
inline constexpr std::int32_t StreamLost = static_cast<std::int32_t>(0x8004D007u);
inline constexpr std::int32_t Unsupported = static_cast<std::int32_t>(0x8004D008u);
inline constexpr std::int32_t Network = static_cast<std::int32_t>(0x8004D009u);
inline constexpr std::int32_t HttpServerError = static_cast<std::int32_t>(0x8004D00Au); // 5xx
inline constexpr std::int32_t TlsFailure = static_cast<std::int32_t>(0x8004D00Bu);
inline constexpr std::int32_t TooManyRedirects = static_cast<std::int32_t>(0x8004D00Cu);
inline constexpr std::int32_t MissingPlugin = static_cast<std::int32_t>(0x8004D00Du);
inline constexpr std::int32_t NoAudioOutput = static_cast<std::int32_t>(0x8004D00Eu);
inline constexpr std::int32_t InvalidArgument = static_cast<std::int32_t>(0x80070057u);
} // namespace playererror

enum class FailureKind {
    HostNotFound,
    Refused, // refused or unreachable
    Timeout, // no connection, or no answer, in time
    Tls,
    HttpClientError, // 4xx
    HttpServerError, // 5xx
    TooManyRedirects,
    NotAudio,
    Unsupported, // protocol, or the audio output / engine itself
    FileNotFound,
    ClosedWithoutStream, // the server answered or accepted, then sent nothing
    ReadFailed,
    MissingPlugin, // a decoder or demuxer the stream needs is not installed
};

// What a connection check to the stream's server found, after a failure
// that left no answer from the server.
enum class ConnectCheck {
    NotRun,
    Connected, // accepted (and TLS established, for https)
    Refused,
    Unreachable,
    HostNotFound,
    TimedOut,     // no connection within the check's bound
    TlsFailed,    // connected, but TLS did not come up (no TLS on that port)
    TlsUntrusted, // no trusted authority vouches for the certificate
    TlsExpired,   // the certificate is out of its validity period
    TlsWrongHost, // the certificate names another server
};

struct StreamFailureFacts {
    enum class Origin {
        Pipeline,         // an error of the engine
        NameLookup,       // the server's name did not resolve
        OpenTimer,        // the stream did not open in time
        EndOfStream,      // the stream ended before it had played
        TooManyRedirects, // one redirect more than the chain allows
        RedirectLoop,     // a redirect back to a URL of the same chain
        BadRedirect,      // a redirect without usable Location
        Stalled,          // playing, but no audio reached the output for stalledSeconds
    };
    Origin origin = Origin::Pipeline;
    bool network = true; // http, https or rtsp; false for a local file
    QString host;
    ErrorDomain domain = ErrorDomain::None;
    int code = 0;
    QString detail;              // the engine's text: quoted in reasons, never inspected
    int httpStatus = 0;          // from the error details or the response headers; 0 unknown
    bool answered = false;       // the server answered, or stream data arrived
    QString contentType;         // of the answer, when known
    bool sourceTimedOut = false; // the failure came when the source's own timeout ran out
    ConnectCheck check = ConnectCheck::NotRun;
    int maxRedirects = 0;   // TooManyRedirects: the bound that was passed
    int stalledSeconds = 0; // Stalled: how long no audio came
    bool playlist = false;  // Stalled: the stream is an HLS playlist
    // What the engine found missing before the error, and the Debian package
    // that brings it (empty when not known: then it counts as not audio).
    QString missingPlugin;
    QString missingPackage;
};

struct StreamFailure {
    FailureKind kind = FailureKind::ReadFailed;
    std::int32_t code = playererror::Network;
    QString reason; // Japanese, for the user
    // The answer may be a playlist rather than a stream: worth one look.
    bool mayBeMetafile = false;
};

StreamFailure ClassifyStreamFailure(const StreamFailureFacts& facts);

// The message for the user about a failed open (or, lost, a reconnection that
// gave up): the URL as given, the stream it led to when not empty, the reason.
// Any user name and password written into a URL are left out.
QString FailureMessage(const QString& url, const QUrl& stream, const QString& reason, bool lost);

// Japanese text of an HTTP status for messages.
QString HttpStatusReason(int status);
// The reason for no sound output that can be opened (or one that went away).
QString NoAudioOutputReason();
// The reason for a web page where audio was expected.
QString WebPageReason(const QString& contentType);

// Reasons a stream and a metafile fetch fail for alike, in Japanese.
enum class CommonReason {
    HostNotFound, // names host, when given
    NoAnswer,
    Refused,
};
QString CommonReasonText(CommonReason reason, const QString& host = QString());

} // namespace didira
