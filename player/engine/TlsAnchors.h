#pragma once
// The certificate authorities trusted for https: the system's, unless the
// environment variable DIDIRA_TLS_CA_FILE names a PEM file, whose authorities
// are then trusted instead (the tests run their own authority this way and
// never touch the system's trust store).

#include <QSslConfiguration>

typedef struct _GTlsDatabase GTlsDatabase;

namespace didira::tls {

inline constexpr char kAnchorsVariable[] = "DIDIRA_TLS_CA_FILE";

// Sets the authorities of config for Qt's sockets and network requests.
void ApplyAnchors(QSslConfiguration& config);

// A new reference to the database for GStreamer's HTTP source, or null for
// the system's. Read again when the variable names another file.
GTlsDatabase* SourceDatabase();

// Loads the system's authorities on a thread of its own, once per process,
// so that the first https source does not wait for the store to be read and
// parsed (the TLS backend keeps it once read); never blocks. Does nothing
// while the environment names a file.
void LoadAnchorsAhead();

} // namespace didira::tls
