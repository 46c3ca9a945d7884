// Feeds arbitrary bytes to the filter that cleans the start of a live Ogg
// stream and checks what the player relies on: reading stays in bounds, it
// never passes on more than it got, and feeding in pieces passes on the same
// bytes as feeding all at once. The first byte picks the size of the pieces.
#include "player/formats/OggJoin.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

[[noreturn]] void Fail() {
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const qsizetype piece = data[0] + 1;
    const QByteArrayView stream(reinterpret_cast<const char*>(data + 1),
                                static_cast<qsizetype>(size - 1));

    didira::OggJoinFilter whole;
    const QByteArray all = whole.Feed(stream);
    if (all.size() > stream.size())
        Fail();
    didira::OggJoinFilter pieces;
    QByteArray read;
    for (qsizetype at = 0; at < stream.size(); at += piece)
        read += pieces.Feed(stream.sliced(at, std::min(piece, stream.size() - at)));
    if (read != all)
        Fail();
    return 0;
}
