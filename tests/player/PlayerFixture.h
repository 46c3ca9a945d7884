#pragma once
// A real player control created the way the dialog creates it, with the
// message boxes it shows recorded instead of shown.

#include "player/ControlHost.h"
#include "player/GstPlayerControl.h"
#include "player/MediaPlayer2.h"
#include "support/PlayerInitData.h"
#include "support/TestSupport.h"
#include "ui/MessageBox.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace didira::test {

class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxHook([this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            return 1;
        });
        ControlHost::EnableControlContainer();
        const QByteArray init = PlayerInitData();
        ControlCreation made =
            ControlHost::CreateControl(QString::fromLatin1(CGstPlayerControl::kClsid), &window,
                                       {reinterpret_cast<const std::byte*>(init.constData()),
                                        static_cast<std::size_t>(init.size())});
        ASSERT_TRUE(made.control) << made.error.toStdString();
        control = qobject_cast<CGstPlayerControl*>(made.control);
        ASSERT_TRUE(control);
        player.Attach(control);
        player.SetPlayOnOpen(TRUE);
    }
    void TearDown() override {
        delete control;
        SetMessageBoxHook({});
    }

    // Pumps the event loop for a while (to see that nothing more happens).
    static void Pump(std::chrono::milliseconds ms) {
        WaitUntil([] { return false; }, ms);
    }

    bool WaitPlaying(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return WaitUntil([&] { return player.GetPlayState() == 2 && player.GetOpenState() == 6; },
                         timeout);
    }

    QWidget window;
    CGstPlayerControl* control = nullptr;
    CMediaPlayer2 player;
    std::vector<MessageBoxRequest> boxes;
};

// A few seconds of MP3 at 128 kbit/s made by ffmpeg once per test process;
// empty when ffmpeg is not there.
inline QByteArray ToneMp3() {
    static const QByteArray tone = [] {
        if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
            return QByteArray();
        const QString path = QDir(TempDir()).filePath(QStringLiteral("tone.mp3"));
        const int rc = QProcess::execute(
            QStringLiteral("ffmpeg"),
            {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
             QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
             QStringLiteral("sine=frequency=440:duration=8"), QStringLiteral("-ac"),
             QStringLiteral("2"), QStringLiteral("-b:a"), QStringLiteral("128k"), path});
        QFile file(path);
        if (rc != 0 || !file.open(QIODevice::ReadOnly))
            return QByteArray();
        return file.readAll();
    }();
    return tone;
}

} // namespace didira::test
