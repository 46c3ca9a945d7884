#include "player/engine/TlsAnchors.h"

#include "player/gst/BackgroundTask.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QSslCertificate>
// GIO names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")
#include <mutex>

namespace didira::tls {

namespace {

// The anchors file as an absolute path (GLib refuses relative ones), or empty.
QString AnchorsFile() {
    const QString file = qEnvironmentVariable(kAnchorsVariable);
    return file.isEmpty() ? QString() : QFileInfo(file).absoluteFilePath();
}

} // namespace

void ApplyAnchors(QSslConfiguration& config) {
    const QString file = AnchorsFile();
    if (!file.isEmpty())
        config.setCaCertificates(QSslCertificate::fromPath(file));
}

GTlsDatabase* SourceDatabase() {
    // Sources run on GStreamer's threads; the file is read once per name.
    static std::mutex mutex;
    static QString loaded;
    static GTlsDatabase* database = nullptr;
    const QString file = AnchorsFile();
    std::lock_guard lock(mutex);
    if (file != loaded) {
        loaded = file;
        g_clear_object(&database); // sources that use it hold references of their own
        GError* error = nullptr;
        if (!file.isEmpty())
            database = g_tls_file_database_new(file.toLocal8Bit().constData(), &error);
        if (error) {
            qWarning("%s: %s", kAnchorsVariable, error->message);
            g_clear_error(&error);
        }
    }
    return database ? G_TLS_DATABASE(g_object_ref(database)) : nullptr;
}

void LoadAnchorsAhead() {
    // A named file (the tests' authority) is small, and read by the sources.
    if (!AnchorsFile().isEmpty())
        return;
    static std::once_flag once;
    std::call_once(once, [] {
        static BackgroundTask load([] {
            if (GTlsDatabase* system =
                    g_tls_backend_get_default_database(g_tls_backend_get_default()))
                g_object_unref(system);
        });
    });
}

} // namespace didira::tls
