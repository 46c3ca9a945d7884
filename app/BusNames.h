#pragma once
// Names on a D-Bus connection: calls on the bus daemon, and the one way this
// program asks for a name (never queued behind another owner).

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <functional>

class QObject;

namespace didira {

// A method call on the bus daemon (org.freedesktop.DBus).
QDBusMessage BusDaemonCall(const char* method);

// Asks for name without waiting for the answer; false when the request could
// not be sent. done, when given, learns (in context's thread, unless context
// is gone first) whether the connection owns the name now.
bool RequestBusName(const QDBusConnection& bus, const QString& name, QObject* context = nullptr,
                    std::function<void(bool owned)> done = {});

} // namespace didira
