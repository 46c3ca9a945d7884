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

// Loads the system's authorities, which the first https source would
// otherwise wait for, on a thread of its own, once per process; never blocks.
// Reading and parsing the store would otherwise delay the first https
// station's sound (bench/README.md); the TLS backend keeps it once read. Does nothing while the
// environment names a file.
void LoadAnchorsAhead();

} // namespace didira::tls
