#pragma once
// The song history as org.didira.Didira1 gives it: History(u count) ->
// a(sss), the newest count entries newest first, each its time (ISO 8601
// with the offset from UTC), station and title.

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>

namespace didira {

class CSongHistory;

struct BusHeardEntry {
    QString time;
    QString station;
    QString title;
};
using BusHistory = QList<BusHeardEntry>;

QDBusArgument& operator<<(QDBusArgument& arg, const BusHeardEntry& entry);
const QDBusArgument& operator>>(const QDBusArgument& arg, BusHeardEntry& entry);

// Makes the types known to Qt DBus; before an object that uses them is exported.
void RegisterHistoryBusTypes();

// The newest count entries of history (none without one), newest first.
BusHistory HistoryForBus(const CSongHistory* history, uint count);

} // namespace didira

Q_DECLARE_METATYPE(didira::BusHeardEntry)
