#include "app/HistoryBus.h"

#include "control/SongHistory.h"

#include <QDBusMetaType>

namespace didira {

QDBusArgument& operator<<(QDBusArgument& arg, const BusHeardEntry& entry) {
    arg.beginStructure();
    arg << entry.time << entry.station << entry.title;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, BusHeardEntry& entry) {
    arg.beginStructure();
    arg >> entry.time >> entry.station >> entry.title;
    arg.endStructure();
    return arg;
}

void RegisterHistoryBusTypes() {
    qDBusRegisterMetaType<BusHeardEntry>();
    qDBusRegisterMetaType<BusHistory>();
}

BusHistory HistoryForBus(const CSongHistory* history, uint count) {
    BusHistory rows;
    if (!history)
        return rows;
    const int n = static_cast<int>(std::min<uint>(count, 1u << 30));
    for (const HeardEntry& entry : history->Newest(n))
        rows.push_back({HeardTimeText(entry.heardMs), entry.station, entry.title});
    return rows;
}

} // namespace didira
