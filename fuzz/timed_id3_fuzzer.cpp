// Reads arbitrary bytes as an MPEG transport stream with timed ID3 and checks
// what the player relies on: reading stays in bounds, every tag reported is
// an ID3 tag no longer than the reader keeps, and reading in pieces gives the
// same tags as reading all at once. The first byte picks the size of the
// pieces. The same packets give a recording its audio (TsAudio), in bounds
// and never more than their payload.
#include "player/formats/TimedId3.h"
#include "player/formats/TsAudio.h"

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

    didira::TimedId3Reader whole;
    const std::vector<QByteArray> tags = whole.Feed(stream);
    for (const QByteArray& tag : tags)
        if (!tag.startsWith("ID3") || tag.size() > didira::TimedId3Reader::kMaxPes)
            Fail();
    didira::TimedId3Reader pieces;
    std::vector<QByteArray> read;
    for (qsizetype at = 0; at < stream.size(); at += piece)
        for (QByteArray& tag : pieces.Feed(stream.sliced(at, std::min(piece, stream.size() - at))))
            read.push_back(std::move(tag));
    if (read != tags)
        Fail();

    didira::TsAudio ts;
    QByteArray audio;
    const qsizetype packet = didira::TsAudio::kPacketSize;
    for (qsizetype at = 0; at + packet <= stream.size(); at += packet)
        ts.Packet(reinterpret_cast<const unsigned char*>(stream.data() + at), &audio);
    if (audio.size() > stream.size())
        Fail();
    return 0;
}
