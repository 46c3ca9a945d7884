#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>
#include <memory>
#include <vector>

namespace didira::test {

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

QString TempDir() {
    static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    dirs.push_back(std::make_unique<QTemporaryDir>());
    return dirs.back()->path();
}

MessageRecorder::MessageRecorder() {
    SetMessageBoxHook([this](const MessageBoxRequest& request) {
        boxes.push_back(request);
        return 1;
    });
}

MessageRecorder::~MessageRecorder() {
    SetMessageBoxHook({});
}

QStringList MessageRecorder::Texts() const {
    QStringList texts;
    for (const MessageBoxRequest& box : boxes)
        texts << box.text;
    return texts;
}

} // namespace didira::test

namespace didira {

std::ostream& operator<<(std::ostream& os, PlayState s) {
    static constexpr const char* kNames[] = {"Stopped",     "Paused",       "Playing",
                                             "Waiting",     "ScanForward",  "ScanReverse",
                                             "SkipForward", "SkipBackward", "Closed"};
    const auto n = ToNumber(s);
    return os << (n >= 0 && n <= 8 ? kNames[n] : "?") << " (" << n << ")";
}

std::ostream& operator<<(std::ostream& os, OpenState s) {
    static constexpr const char* kNames[] = {"Closed",
                                             "LoadingMetafile",
                                             "LoadingStationFile",
                                             "LocatingServer",
                                             "Connecting",
                                             "Opening",
                                             "Open"};
    const auto n = ToNumber(s);
    return os << (n >= 0 && n <= 6 ? kNames[n] : "?") << " (" << n << ")";
}

} // namespace didira
