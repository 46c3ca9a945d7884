#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
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

QString Program(const QString& name) {
    static const QHash<QString, QString> packages = [] {
        QHash<QString, QString> listed;
        QFile file(QStringLiteral(DIDIRA_SOURCE_DIR "/tests/programs.txt"));
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            while (!file.atEnd()) {
                const QStringList fields =
                    QString::fromUtf8(file.readLine()).simplified().split(u' ');
                if (fields.size() >= 2 && !fields[0].startsWith(u'#'))
                    listed.insert(fields[0], fields[1]);
            }
        }
        return listed;
    }();
    const auto listed = packages.constFind(name);
    if (listed == packages.cend()) {
        ADD_FAILURE() << name.toStdString() << " is not in tests/programs.txt: list it there "
                      << "with its Debian package, and add the package to scripts/setup.sh";
        return {};
    }
    const QString path = name.startsWith(u'/') ? (QFileInfo(name).isExecutable() ? name : QString())
                                               : QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        ADD_FAILURE() << name.toStdString() << " is missing: Debian package "
                      << listed->toStdString() << " (scripts/setup.sh installs it)";
    return path;
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
