#pragma once
// Helpers shared by the tests.

#include "control/PlayerStates.h"
#include "ui/MessageBox.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <ostream>
#include <vector>

namespace didira::test {

// Runs the Qt event loop until pred() holds or the timeout passes; returns
// whether pred() held.
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the Qt event loop for a while (to see that nothing more happens).
inline void Pump(std::chrono::milliseconds ms) {
    WaitUntil([] { return false; }, ms);
}

// A fresh temporary directory, removed when the test process ends.
QString TempDir();

// The path of an external program a test starts, as tests/programs.txt names
// it (the list the test run checks before it starts). Fails the test, naming
// the program and its Debian package, when the program is missing or is not
// on the list; empty then.
QString Program(const QString& name);

// Records message boxes instead of showing them, while it lives.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;
    QStringList Texts() const;
    std::vector<MessageBoxRequest> boxes;
};

} // namespace didira::test

namespace didira {
// States by name in test failure messages.
std::ostream& operator<<(std::ostream& os, PlayState s);
std::ostream& operator<<(std::ostream& os, OpenState s);
} // namespace didira
