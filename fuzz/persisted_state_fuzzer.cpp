// Parses arbitrary bytes as the player control's persisted state. A stream
// that parses must hold exactly its values: written back in the same layout
// it gives the input again, byte for byte.
#include "control/PersistedState.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace {

template <typename T> void Put(std::string& out, T value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value); // little-endian host, as the parser
    out.append(bytes, sizeof value);
}

std::string Write(const didira::PersistedState& state) {
    using didira::VarType;
    std::string out;
    Put(out, state.version);
    Put(out, state.extentX);
    Put(out, state.extentY);
    for (const didira::Variant& value : state.values) {
        std::visit(
            [&out](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::monostate>) {
                    Put(out, VarType::Empty);
                } else if constexpr (std::is_same_v<T, std::int16_t>) {
                    Put(out, VarType::I2);
                    Put(out, v);
                } else if constexpr (std::is_same_v<T, std::int32_t>) {
                    Put(out, VarType::I4);
                    Put(out, v);
                } else if constexpr (std::is_same_v<T, double>) {
                    Put(out, VarType::R8);
                    Put(out, v);
                } else if constexpr (std::is_same_v<T, didira::VariantBool>) {
                    Put(out, VarType::Bool);
                    Put(out, v.value);
                } else if constexpr (std::is_same_v<T, std::uint32_t>) {
                    Put(out, VarType::UI4);
                    Put(out, v);
                } else {
                    static_assert(std::is_same_v<T, QString>);
                    Put(out, VarType::BStr);
                    Put(out, static_cast<std::uint32_t>((v.size() + 1) * 2));
                    out.append(reinterpret_cast<const char*>(v.utf16()),
                               static_cast<std::size_t>(v.size()) * 2);
                    Put(out, char16_t{0});
                }
            },
            value);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> stream(reinterpret_cast<const std::byte*>(data), size);
    QString error;
    const auto state = didira::ParsePersistedState(stream, &error);
    if (!state) {
        if (error.isEmpty())
            __builtin_trap(); // every refusal says why
        return 0;
    }
    if (state->values.size() != didira::PersistedState::kValueCount)
        __builtin_trap();
    if (Write(*state) != std::string(reinterpret_cast<const char*>(data), size))
        __builtin_trap();
    return 0;
}
