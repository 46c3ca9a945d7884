#include "control/Dispatch.h"

#include <cmath>
#include <limits>

namespace didira {

VarType TypeOf(const Variant& v) {
    switch (v.index()) {
    case 1:
        return VarType::I2;
    case 2:
        return VarType::I4;
    case 3:
        return VarType::R8;
    case 4:
        return VarType::BStr;
    case 5:
        return VarType::Bool;
    case 6:
        return VarType::UI4;
    default:
        return VarType::Empty;
    }
}

DispatchError::DispatchError(std::int32_t code, QString description)
    : m_code(code), m_description(std::move(description)),
      m_what(m_description.isEmpty() ? std::string("dispatch error")
                                     : m_description.toStdString()) {}

namespace {

[[noreturn]] void Mismatch() {
    throw DispatchError(kDispTypeMismatch, QString());
}

// The value as a double, for numeric conversions; throws for non-numbers.
double AsNumber(const Variant& v) {
    switch (TypeOf(v)) {
    case VarType::Empty:
        return 0.0;
    case VarType::I2:
        return std::get<std::int16_t>(v);
    case VarType::I4:
        return std::get<std::int32_t>(v);
    case VarType::R8:
        return std::get<double>(v);
    case VarType::Bool:
        return std::get<VariantBool>(v).value;
    case VarType::UI4:
        return std::get<std::uint32_t>(v);
    case VarType::BStr: {
        bool ok = false;
        const double d = std::get<QString>(v).trimmed().toDouble(&ok);
        if (!ok)
            Mismatch();
        return d;
    }
    }
    Mismatch();
}

template <typename T> T InRange(double d) {
    if (!std::isfinite(d))
        Mismatch();
    const double r = std::nearbyint(d);
    if (r < static_cast<double>(std::numeric_limits<T>::min()) ||
        r > static_cast<double>(std::numeric_limits<T>::max()))
        throw DispatchError(static_cast<std::int32_t>(0x8002000Au), QString()); // overflow
    return static_cast<T>(r);
}

} // namespace

Variant ChangeType(const Variant& v, VarType to) {
    if (TypeOf(v) == to)
        return v;
    switch (to) {
    case VarType::Empty:
        return std::monostate{};
    case VarType::I2:
        return InRange<std::int16_t>(AsNumber(v));
    case VarType::I4:
        return InRange<std::int32_t>(AsNumber(v));
    case VarType::UI4:
        return InRange<std::uint32_t>(AsNumber(v));
    case VarType::R8:
        return AsNumber(v);
    case VarType::Bool:
        return VariantBool{static_cast<std::int16_t>(AsNumber(v) != 0.0 ? -1 : 0)};
    case VarType::BStr:
        switch (TypeOf(v)) {
        case VarType::Empty:
            return QString();
        case VarType::Bool:
            return std::get<VariantBool>(v).value ? QStringLiteral("True")
                                                  : QStringLiteral("False");
        case VarType::R8:
            return QString::number(std::get<double>(v));
        default:
            return QString::number(static_cast<qlonglong>(AsNumber(v)));
        }
    }
    Mismatch();
}

} // namespace didira
