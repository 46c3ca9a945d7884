// Timed ID3 read from MPEG-TS bytes: tags of the metadata streams the
// programme map lists, whole and in pieces of any size; everything else, and
// whatever is malformed or too long, skipped without losing the next tag.
#include "player/formats/TimedId3.h"
#include "support/TsWriter.h"

#include <gtest/gtest.h>

using namespace didira;
using namespace didira::test;

namespace {

constexpr std::uint16_t kAudioPid = 0x100;

QByteArray Tag(const QByteArray& title) {
    return ts::Id3Tag(ts::Id3Frame("TIT2", '\x03' + title));
}

// PAT and a PMT listing AAC audio and, unless told otherwise, the metadata stream.
QByteArray Tables(bool withMetadata = true) {
    std::vector<ts::Stream> streams{{0x0f, kAudioPid, {}}};
    if (withMetadata)
        streams.push_back({0x15, ts::kMetadataPid, ts::Id3StreamDescriptor()});
    return ts::SectionPacket(0, ts::PatSection(ts::kPmtPid)) +
           ts::SectionPacket(ts::kPmtPid,
                             ts::PmtSection(kAudioPid, ts::Id3ProgramDescriptor(), streams));
}

std::vector<QByteArray> ReadInPieces(const QByteArray& stream, qsizetype piece) {
    TimedId3Reader reader;
    std::vector<QByteArray> tags;
    for (qsizetype at = 0; at < stream.size(); at += piece)
        for (QByteArray& tag :
             reader.Feed(QByteArrayView(stream).sliced(at, std::min(piece, stream.size() - at))))
            tags.push_back(std::move(tag));
    return tags;
}

TEST(TimedId3, TagsOfTheListedMetadataStreamArriveWholeAndInAnyPieces) {
    std::uint8_t cc = 0, audioCc = 0;
    const QByteArray shortTag = Tag("Short");
    const QByteArray longTag = Tag(QByteArray(500, 'x')); // over three packets
    const QByteArray stream =
        Tables() + ts::PesPackets(kAudioPid, 0xc0, 9000, QByteArray(300, '\x55'), audioCc) +
        ts::PesPackets(ts::kMetadataPid, 0xbd, 9000, shortTag, cc) +
        QByteArray("junk between packets") + // skipped up to the next sync byte
        ts::PesPackets(ts::kMetadataPid, 0xbd, 99000, longTag, cc);
    const std::vector<QByteArray> expected{shortTag, longTag};
    for (const qsizetype piece : {stream.size(), qsizetype{1}, qsizetype{7}, qsizetype{187},
                                  qsizetype{188}, qsizetype{189}, qsizetype{1000}})
        EXPECT_EQ(ReadInPieces(stream, piece), expected) << "pieces of " << piece;
}

TEST(TimedId3, OnlyWellFormedId3OfListedMetadataStreamsCounts) {
    std::uint8_t cc = 0, audioCc = 0;
    const QByteArray tag = Tag("Title");
    // Before any programme map, on the audio PID, in a stream the map does
    // not list as metadata, or without an ID3 header: nothing.
    QByteArray stream = ts::PesPackets(ts::kMetadataPid, 0xbd, 0, tag, cc) + Tables(false) +
                        ts::PesPackets(ts::kMetadataPid, 0xbd, 0, tag, cc) + Tables() +
                        ts::PesPackets(kAudioPid, 0xc0, 0, tag, audioCc) +
                        ts::PesPackets(ts::kMetadataPid, 0xbd, 0, "not a tag", cc);
    // A packet the sender marked damaged.
    QByteArray damaged = ts::PesPackets(ts::kMetadataPid, 0xbd, 0, tag, cc);
    damaged[1] = static_cast<char>(damaged[1] | 0x80);
    stream += damaged;
    // Longer than the reader keeps: dropped, and the next tag still arrives.
    stream += ts::PesPackets(ts::kMetadataPid, 0xbd, 0,
                             Tag(QByteArray(TimedId3Reader::kMaxPes, 'y')), cc);
    stream += ts::PesPackets(ts::kMetadataPid, 0xbd, 0, tag, cc);
    EXPECT_EQ(ReadInPieces(stream, stream.size()), std::vector<QByteArray>{tag});

    // A new PAT without the programme forgets its streams.
    TimedId3Reader reader;
    reader.Feed(stream);
    EXPECT_TRUE(reader
                    .Feed(ts::SectionPacket(0, ts::PatSection(0x1100)) +
                          ts::PesPackets(ts::kMetadataPid, 0xbd, 0, tag, cc))
                    .empty());
}

TEST(TimedId3, APesOfUnstatedLengthEndsWhereTheNextStarts) {
    std::uint8_t cc = 0;
    const QByteArray first = Tag(QByteArray(300, 'a'));
    QByteArray unstated = ts::PesPackets(ts::kMetadataPid, 0xbd, 0, first, cc);
    unstated[4 + 4] = 0; // PES_packet_length (a full first packet: no adaptation field)
    unstated[4 + 5] = 0;
    // The last packet's stuffing comes before its payload: nothing is added.
    const QByteArray second = Tag("Next");
    TimedId3Reader reader;
    EXPECT_TRUE(reader.Feed(Tables() + unstated).empty());
    EXPECT_EQ(reader.Feed(ts::PesPackets(ts::kMetadataPid, 0xbd, 0, second, cc)),
              (std::vector<QByteArray>{first, second}));
}

} // namespace
