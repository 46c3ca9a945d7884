#include "control/ControlHost.h"

#include <QHash>
#include <QtEndian>
#include <cstring>

namespace didira {

namespace {

QHash<QString, ControlFactory>& Registry() {
    static QHash<QString, ControlFactory> registry;
    return registry;
}

QString Normalized(const QString& clsid) {
    return clsid.trimmed().toUpper();
}

} // namespace

void ControlHost::RegisterClass(const QString& clsid, ControlFactory factory) {
    Registry().insert(Normalized(clsid), std::move(factory));
}

void ControlHost::UnregisterClass(const QString& clsid) {
    Registry().remove(Normalized(clsid));
}

ControlCreation ControlHost::CreateControl(const QString& clsid, QWidget* parent,
                                           std::span<const std::byte> initData) {
    const auto it = Registry().constFind(Normalized(clsid));
    if (it == Registry().constEnd())
        return {nullptr, QStringLiteral("class %1 is not registered").arg(clsid)};

    std::span<const std::byte> stream;
    if (!initData.empty()) {
        if (initData.size() < 4)
            return {nullptr, QStringLiteral("control init data shorter than its prefix field")};
        std::uint32_t prefixChars = 0;
        std::memcpy(&prefixChars, initData.data(), 4);
        prefixChars = qFromLittleEndian(prefixChars);
        const std::size_t rest = initData.size() - 4;
        if (prefixChars > rest / 2)
            return {nullptr, QStringLiteral("control init data prefix longer than the data")};
        stream = initData.subspan(4 + std::size_t{prefixChars} * 2);
    }
    ControlCreation made = (*it)(parent, stream);
    if (!made.control && made.error.isEmpty())
        made.error = QStringLiteral("control %1 could not be created").arg(clsid);
    return made;
}

} // namespace didira
