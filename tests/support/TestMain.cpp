// Test entry point: a headless QApplication around GoogleTest, with a cache
// directory of the process's own (the player keeps its live buffers there),
// never the user's.
#include "player/formats/StreamText.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir cache(QDir::tempPath() + QStringLiteral("/didira-test-cache-XXXXXX"));
    if (!cache.isValid())
        return 1;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    didira::PrepareStreamTextEncoding(); // as the program does
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
