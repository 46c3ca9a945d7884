#pragma once
// A real local radio for integration tests: Icecast on a free 127.0.0.1 port,
// fed in real time by ffmpeg: mounts /mp3, /ogg (Opus), /aac (AAC LC),
// /vorbis and /flac (both Ogg); live HLS /hls-ts/live.m3u8 (AAC in MPEG-TS),
// /hls-fmp4/live.m3u8 (fMP4 segments) and /hls-master/master.m3u8 (two
// variants); metafiles /station-mp3.asx, /station-ogg.pls and
// /station-aac.m3u. Started and stopped by scripts/local-radio.sh, the same
// script as the offline demo's and the benchmark's.

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace didira::test {

class LocalRadio {
public:
    LocalRadio();
    ~LocalRadio();
    LocalRadio(const LocalRadio&) = delete;
    LocalRadio& operator=(const LocalRadio&) = delete;

    // Whether icecast2 and ffmpeg are installed.
    static bool Available();

    // Starts server and feeders; false (with the script's output in error())
    // when they do not come up. Keeps the Qt event loop running meanwhile.
    bool Start();

    quint16 port() const { return m_port; }
    QString Url(const QString& path) const;
    const QString& error() const { return m_error; }

private:
    void Kill();
    bool Run(const QStringList& args, QString* output);

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    QString m_error;
    bool m_running = false;
};

// A test fixture whose suite shares one local radio, started before its first
// test and stopped after its last; its tests skip when the radio cannot run.
template <typename Base> class WithLocalRadio : public Base {
protected:
    using Base::Base;
    static void SetUpTestSuite() {
        if (!LocalRadio::Available())
            return;
        radio = std::make_unique<LocalRadio>();
        if (!radio->Start()) {
            ADD_FAILURE() << "local radio did not start: " << radio->error().toStdString();
            radio.reset();
        }
    }
    static void TearDownTestSuite() { radio.reset(); }
    void SetUp() override {
        if (!radio)
            GTEST_SKIP() << "icecast2, ffmpeg and curl are needed";
        Base::SetUp();
    }
    static inline std::unique_ptr<LocalRadio> radio;
};

} // namespace didira::test
