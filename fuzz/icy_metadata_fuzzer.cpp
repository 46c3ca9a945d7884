// Reads arbitrary bytes as an ICY stream and checks what the player relies
// on: reading stays in bounds, a reported title is never longer than a
// block (it may be empty: an empty title clears a named one), and reading in
// pieces ends with the same title as reading all at once. The first byte picks the metadata
// interval, the second the size of the pieces.
#include "player/formats/IcyMetadata.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

[[noreturn]] void Fail() {
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::uint32_t interval = data[0] + 1u;
    const qsizetype piece = data[1] + 1;
    const QByteArrayView stream(reinterpret_cast<const char*>(data + 2),
                                static_cast<qsizetype>(size - 2));

    didira::IcyMetadataReader whole(interval);
    whole.Feed(stream);
    didira::IcyMetadataReader pieces(interval);
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        if (pieces.Feed(stream.sliced(at, std::min(piece, stream.size() - at))) &&
            pieces.Title().size() > didira::IcyMetadataReader::kMaxBlock)
            Fail();
    }
    if (pieces.Title() != whole.Title())
        Fail();

    // The block parser on its own, as if the whole input were one block.
    if (const auto title = didira::IcyStreamTitle(stream); title && title->size() >= stream.size())
        Fail();
    return 0;
}
