#pragma once
// The metadata an ICY (Shoutcast/Icecast) stream interleaves with its audio,
// read as the bytes arrive from the server: after every `interval` bytes of
// audio comes one length byte n, then n * 16 bytes of text such as
// "StreamTitle='Artist - Title';StreamUrl='';", padded with NULs. Only the
// metadata blocks are looked at; the audio is skipped by counting. Holds at
// most one block (4080 bytes), whatever it is fed. Pure; one per connection.

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <optional>

namespace didira {

class IcyMetadataReader {
public:
    // Largest metadata block: the length byte counts 16-byte units.
    static constexpr qsizetype kMaxBlock = 255 * 16;
    // The smallest interval whose titles are taken: below it (no station
    // sends blocks that often) the metadata is only taken out of the audio.
    static constexpr std::uint32_t kMinTitledInterval = 512;

    // interval: the server's icy-metaint, the audio bytes between blocks;
    // must be positive.
    explicit IcyMetadataReader(std::uint32_t interval);

    // Reads the next bytes of the stream, in pieces of any size. True when a
    // block completed here announced a StreamTitle other than the last one
    // reported: Title() is then the newest, and may be empty when the
    // station announces an empty title after a named one. Blocks without a
    // title, or repeating the last, leave everything as it was.
    bool Feed(QByteArrayView bytes);
    // As Feed, and hands out the audio among bytes (the metadata taken out),
    // appended to audio; when a title changed, *titleAt is the size audio had
    // where that block ended.
    bool Feed(QByteArrayView bytes, QByteArray* audio, qsizetype* titleAt);

    // Where the reader stands in the stream: the audio bytes before the next
    // length byte, or the bytes still to come of the block being read.
    struct Phase {
        std::uint64_t audioLeft = 0;
        std::uint64_t blockLeft = 0;
    };
    Phase Position() const;

    // The StreamTitle last reported, the bytes as the station sent them.
    const QByteArray& Title() const { return m_title; }

private:
    enum class Part { Audio, Length, Block };

    bool EndBlock(); // whether the block changed the title

    std::uint32_t m_interval;
    Part m_part = Part::Audio;
    std::uint64_t m_left; // bytes until the current part ends
    QByteArray m_block;
    QByteArray m_title;
    bool m_changed = false;
};

// The StreamTitle of one metadata block, without its quotes; none when the
// block names none. The value runs to the first "';" as the stations write
// it (a lone quote inside the title stays part of it), else to the block's
// end without its trailing NULs and closing quote.
std::optional<QByteArray> IcyStreamTitle(QByteArrayView block);

// Frames audio into an ICY stream again: a metadata block after every
// `interval` bytes of audio, naming the title when it differs from the last
// one named, else empty. Starts at phase, where a reader of the stream that
// it continues stood; a block that was cut off there is completed with NULs.
// Pure; one per continued stream.
class IcyFramer {
public:
    IcyFramer(std::uint32_t interval, IcyMetadataReader::Phase phase, QByteArray lastTitle);
    // Appends audio to out, with the blocks that fall within it; title: the
    // StreamTitle of this audio. The title a block among them named, as
    // written (cut to fit a block); none when none did.
    std::optional<QByteArray> Frame(QByteArrayView audio, const QByteArray& title, QByteArray* out);
    // For a reader that counts afresh (a demuxer given the caps again after
    // a flush): the next bytes start an interval, and its block names the
    // title, opened with "';" so that a reader still holding part of a block
    // cut off by the flush finds it all the same.
    void Restart();

private:
    std::uint32_t m_interval;
    IcyMetadataReader::Phase m_phase;
    QByteArray m_lastTitle;
    bool m_restarted = false;
};

} // namespace didira
