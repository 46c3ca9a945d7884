#pragma once
// Late-bound calls on a hosted control: dispatch ids, call kinds, variant values
// and the dispatch error that a failed call raises.

#include "res/FrameworkTypes.h"

#include <QString>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <variant>

namespace didira {

using DispId = std::int32_t;

// Kind of a late-bound call (numbering of the automation call flags).
enum class InvokeKind : std::uint16_t {
    Method = 1,
    PropertyGet = 2,
    PropertyPut = 4,
};

// Variant type tags, with the numbering of the OLE variant types.
enum class VarType : std::uint16_t {
    Empty = 0,
    I2 = 2,
    I4 = 3,
    R8 = 5,
    BStr = 8,
    Bool = 11,
    UI4 = 19,
};

// A boolean as the control stores it: -1 true, 0 false.
struct VariantBool {
    std::int16_t value = 0;
    friend bool operator==(VariantBool, VariantBool) = default;
};

// One typed value passed to or returned from a control. Strings are the
// control's wide (UTF-16) text.
using Variant = std::variant<std::monostate, std::int16_t, std::int32_t, double, QString,
                             VariantBool, std::uint32_t>;

VarType TypeOf(const Variant& v);

// Raised by a control that fails a call, or by the caller when an answer
// cannot be converted to the requested type. An empty description means the
// failure carries no text of its own.
class DispatchError : public std::exception {
public:
    DispatchError(std::int32_t code, QString description);
    std::int32_t code() const { return m_code; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::int32_t m_code;
    QString m_description;
    std::string m_what;
};

// Failure codes (HRESULT-shaped) used by the dispatch layer.
inline constexpr std::int32_t kDispMemberNotFound = static_cast<std::int32_t>(0x80020003u);
inline constexpr std::int32_t kDispTypeMismatch = static_cast<std::int32_t>(0x80020005u);
inline constexpr std::int32_t kDispBadParamCount = static_cast<std::int32_t>(0x8002000Eu);
inline constexpr std::int32_t kDispException = static_cast<std::int32_t>(0x80020009u);

// The late-bound interface of a hosted control. Invoke runs on the UI thread
// and must return promptly: a control does its slow work asynchronously.
class IDispatchTarget {
public:
    virtual ~IDispatchTarget() = default;
    // Throws DispatchError when the member does not exist or the call fails.
    virtual Variant Invoke(DispId id, InvokeKind kind, std::span<const Variant> args) = 0;
};

// Converts v to the requested type as the automation layer does; throws
// DispatchError(kDispTypeMismatch) when it cannot.
Variant ChangeType(const Variant& v, VarType to);

} // namespace didira
