#pragma once
// Helpers shared by the tests.

#include <QString>
#include <chrono>
#include <functional>

namespace didira::test {

// Runs the Qt event loop until pred() holds or the timeout passes; returns
// whether pred() held.
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A fresh temporary directory, removed when the test process ends.
QString TempDir();

} // namespace didira::test
