#pragma once
// A real player control created the way the dialog creates it, with the
// message boxes it shows recorded instead of shown.

#include "player/ControlHost.h"
#include "player/GstPlayerControl.h"
#include "player/MediaPlayer2.h"
#include "player/PlayerStates.h"
#include "res/Resources.h"
#include "support/TestSupport.h"
#include "ui/ControlErrorBox.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>
#include <gtest/gtest.h>

namespace didira::test {

// Creates the real control from the template entry, or from other state bytes.
inline ControlCreation CreatePlayer(QWidget* parent,
                                    const QByteArray& data = MediaPlayerInitData()) {
    ControlHost::EnableControlContainer();
    return ControlHost::CreateControl(QString::fromLatin1(CGstPlayerControl::kClsid), parent,
                                      {reinterpret_cast<const std::byte*>(data.constData()),
                                       static_cast<std::size_t>(data.size())});
}

class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ControlCreation made = CreatePlayer(&window);
        ASSERT_TRUE(made.control) << made.error.toStdString();
        control = qobject_cast<CGstPlayerControl*>(made.control);
        ASSERT_TRUE(control);
        control->SetSite(&MessageBoxControlSite()); // as the dialog does
        player.Attach(control);
        player.SetPlayOnOpen(TRUE);
    }
    void TearDown() override { delete control; }

    PlayState Play() { return static_cast<PlayState>(player.GetPlayState()); }
    OpenState Opened() { return static_cast<OpenState>(player.GetOpenState()); }

    bool WaitPlaying(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return WaitUntil(
            [&] { return Play() == PlayState::Playing && Opened() == OpenState::Open; }, timeout);
    }
    bool WaitError(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return WaitUntil([&] { return player.GetIsError() == TRUE; }, timeout);
    }

    QWidget window;
    CGstPlayerControl* control = nullptr;
    CMediaPlayer2 player;
    MessageRecorder recorder;
    std::vector<MessageBoxRequest>& boxes = recorder.boxes;
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
