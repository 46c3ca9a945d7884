#include "app/BusNames.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>

namespace didira {

QDBusMessage BusDaemonCall(const char* method) {
    return QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QString::fromLatin1(method));
}

bool RequestBusName(const QDBusConnection& bus, const QString& name, QObject* context,
                    std::function<void(bool owned)> done) {
    constexpr uint kDoNotQueue = 4;
    QDBusMessage call = BusDaemonCall("RequestName");
    call.setArguments({name, kDoNotQueue});
    if (!done || !context)
        return bus.send(call);
    if (!bus.isConnected())
        return false;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         const QDBusPendingReply<uint> reply = *w;
                         constexpr uint kPrimaryOwner = 1;
                         constexpr uint kAlreadyOwner = 4;
                         done(!reply.isError() &&
                              (reply.value() == kPrimaryOwner || reply.value() == kAlreadyOwner));
                     });
    return true;
}

} // namespace didira
