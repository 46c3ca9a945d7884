#include "control/PersistedState.h"

#include <bit>
#include <cstring>

namespace didira {

namespace {

// A cursor over the stream that refuses to read past its end.
class Reader {
public:
    explicit Reader(std::span<const std::byte> data) : m_data(data) {}

    std::size_t offset() const { return m_pos; }
    std::size_t remaining() const { return m_data.size() - m_pos; }

    template <typename T> bool Read(T* out) {
        if (remaining() < sizeof(T))
            return false;
        std::memcpy(out, m_data.data() + m_pos, sizeof(T)); // little-endian host
        m_pos += sizeof(T);
        return true;
    }

    std::span<const std::byte> Take(std::size_t n) {
        const auto part = m_data.subspan(m_pos, n);
        m_pos += n;
        return part;
    }

private:
    std::span<const std::byte> m_data;
    std::size_t m_pos = 0;
};

static_assert(std::endian::native == std::endian::little, "the stream is little-endian");

} // namespace

std::optional<PersistedState> ParsePersistedState(std::span<const std::byte> stream,
                                                  QString* error) {
    auto fail = [&](const QString& why) -> std::optional<PersistedState> {
        if (error)
            *error = why;
        return std::nullopt;
    };

    Reader in(stream);
    PersistedState state;
    if (!in.Read(&state.version) || !in.Read(&state.extentX) || !in.Read(&state.extentY))
        return fail(QStringLiteral("persisted state truncated in its header"));
    if (state.version != PersistedState::kVersion)
        return fail(QStringLiteral("persisted state has version %1").arg(state.version));

    state.values.reserve(PersistedState::kValueCount);
    for (std::size_t i = 0; i < PersistedState::kValueCount; ++i) {
        const std::size_t at = in.offset();
        auto truncated = [&] {
            return fail(
                QStringLiteral("persisted value %1 truncated at offset %2").arg(i + 1).arg(at));
        };
        // Reads one fixed-size value of the type of `zero` into the list.
        const auto readScalar = [&](auto zero) {
            if (!in.Read(&zero))
                return false;
            state.values.emplace_back(zero);
            return true;
        };
        std::uint16_t tag = 0;
        if (!in.Read(&tag))
            return truncated();
        switch (static_cast<VarType>(tag)) {
        case VarType::Empty:
            state.values.emplace_back(std::monostate{});
            break;
        case VarType::I2:
            if (!readScalar(std::int16_t{}))
                return truncated();
            break;
        case VarType::I4:
            if (!readScalar(std::int32_t{}))
                return truncated();
            break;
        case VarType::R8:
            if (!readScalar(double{}))
                return truncated();
            break;
        case VarType::Bool: {
            std::int16_t v = 0;
            if (!in.Read(&v))
                return truncated();
            if (v != 0 && v != -1)
                return fail(
                    QStringLiteral("persisted value %1 is a boolean of %2").arg(i + 1).arg(v));
            state.values.emplace_back(VariantBool{v});
            break;
        }
        case VarType::UI4:
            if (!readScalar(std::uint32_t{}))
                return truncated();
            break;
        case VarType::BStr: {
            std::uint32_t bytes = 0;
            if (!in.Read(&bytes))
                return truncated();
            // UTF-16 text with its terminating zero: an even, non-zero count.
            if (bytes < 2 || bytes % 2 != 0)
                return fail(QStringLiteral("persisted value %1 has a string of %2 bytes")
                                .arg(i + 1)
                                .arg(bytes));
            if (bytes > in.remaining())
                return truncated();
            const auto raw = in.Take(bytes);
            std::u16string text(bytes / 2, u'\0');
            std::memcpy(text.data(), raw.data(), bytes);
            if (text.back() != u'\0')
                return fail(
                    QStringLiteral("persisted value %1 is an unterminated string").arg(i + 1));
            text.pop_back();
            // The units as they are: decoding as UTF-16 text would take a
            // leading U+FEFF or U+FFFE for a byte-order mark.
            state.values.emplace_back(QString(reinterpret_cast<const QChar*>(text.data()),
                                              static_cast<qsizetype>(text.size())));
            break;
        }
        default:
            return fail(
                QStringLiteral("persisted value %1 has unknown type %2").arg(i + 1).arg(tag));
        }
    }
    if (in.remaining() != 0)
        return fail(QStringLiteral("persisted state has %1 bytes after its last value")
                        .arg(in.remaining()));
    return state;
}

} // namespace didira
