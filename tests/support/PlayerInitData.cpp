#include "support/PlayerInitData.h"

#include <QtEndian>
#include <cstdint>

namespace didira::test {

namespace {

class Writer {
public:
    template <typename T> Writer& Raw(T v) {
        const T le = qToLittleEndian(v);
        m_bytes.append(reinterpret_cast<const char*>(&le), sizeof le);
        return *this;
    }
    Writer& Tag(std::uint16_t tag) { return Raw(tag); }
    Writer& Empty() { return Tag(0); }
    Writer& I2(std::int16_t v) { return Tag(2).Raw(v); }
    Writer& I4(std::int32_t v) { return Tag(3).Raw(v); }
    Writer& R8(double v) {
        Tag(5);
        m_bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
        return *this;
    }
    Writer& EmptyString() { return Tag(8).Raw(std::uint32_t{2}).Raw(std::uint16_t{0}); }
    Writer& Bool(bool v) { return Tag(11).Raw(std::int16_t(v ? -1 : 0)); }
    Writer& UI4(std::uint32_t v) { return Tag(19).Raw(v); }
    Writer& Bools(int n, bool v) {
        for (int i = 0; i < n; ++i)
            Bool(v);
        return *this;
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

} // namespace

QByteArray PlayerInitData() {
    Writer w;
    w.Raw(std::uint32_t{0}).Raw(std::uint32_t{1}).Raw(std::int32_t{1349}).Raw(std::int32_t{635});
    w.I4(-1).Bool(false).Bools(4, true);                                    // 1-6
    w.Empty().I2(0).Empty().Bool(false).I4(0).EmptyString().R8(5.0);        // 7-13
    w.EmptyString().Bool(true).I4(0).R8(-1.0).I4(0).EmptyString();          // 14-19
    w.UI4(0).UI4(0x00FFFFFF).I4(0).I4(4).Bools(3, true).Bool(false);        // 20-27
    w.Bool(true).EmptyString().Bool(true).I4(-1).Bool(false).I4(1);         // 28-33
    w.Bool(false).R8(1.0).EmptyString().EmptyString().EmptyString();        // 34-38
    w.R8(-1.0).R8(-1.0).Bools(3, true).Bools(3, false).Bool(true);          // 39-47
    w.Bool(false).Bools(2, true).Bools(2, false).Bool(true).Bool(false);    // 48-54
    w.Bool(true).Bool(false).I4(0).UI4(0).Bool(false).I4(-600).Bool(false); // 55-61
    return w.bytes();
}

} // namespace didira::test
