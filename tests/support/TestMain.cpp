// Test entry point: a headless QApplication around GoogleTest, with a cache
// directory of the process's own (the player keeps its live buffers there),
// never the user's. A critical from GLib, GStreamer or Qt is a programming
// error: it fails the test it happens in (and the run, when it happens
// outside one), and the programs the tests start abort on one.
#include "player/formats/StreamText.h"

#include <QApplication>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <glib.h>
#include <gtest/gtest.h>
#include <string>

namespace {

std::atomic<int> g_criticals{0};

void Critical(const char* text) {
    ++g_criticals;
    if (::testing::UnitTest::GetInstance()->current_test_info())
        ADD_FAILURE() << "critical: " << text;
    else
        std::fprintf(stderr, "critical outside a test: %s\n", text);
}

GLogWriterOutput WriteLog(GLogLevelFlags level, const GLogField* fields, gsize count,
                          gpointer data) {
    if (level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR)) {
        const char* domain = "";
        const char* message = "";
        for (gsize i = 0; i < count; ++i) {
            if (g_strcmp0(fields[i].key, "GLIB_DOMAIN") == 0)
                domain = static_cast<const char*>(fields[i].value);
            else if (g_strcmp0(fields[i].key, "MESSAGE") == 0)
                message = static_cast<const char*>(fields[i].value);
        }
        Critical((std::string(domain) + ": " + message).c_str());
    }
    return g_log_writer_default(level, fields, count, data);
}

QtMessageHandler g_qtHandler = nullptr;

void HandleQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtCriticalMsg)
        Critical(qPrintable(QStringLiteral("Qt: ") + text));
    g_qtHandler(type, context, text);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // GLib read this process's G_DEBUG as it loaded; the programs started
    // from here read this one.
    QByteArray debug = qgetenv("G_DEBUG");
    if (!debug.contains("fatal-criticals"))
        qputenv("G_DEBUG", debug.isEmpty() ? "fatal-criticals" : debug + ",fatal-criticals");
    g_log_set_writer_func(&WriteLog, nullptr, nullptr);
    g_qtHandler = qInstallMessageHandler(&HandleQtMessage);
    QTemporaryDir cache(QDir::tempPath() + QStringLiteral("/didira-test-cache-XXXXXX"));
    if (!cache.isValid())
        return 1;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    didira::PrepareStreamTextEncoding(); // as the program does
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    return failed != 0 || g_criticals.load() > 0 ? 1 : 0;
}
