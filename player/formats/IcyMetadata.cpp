#include "player/formats/IcyMetadata.h"

#include <QtCore/qbytearrayalgorithms.h>
#include <algorithm>

namespace didira {

IcyMetadataReader::IcyMetadataReader(std::uint32_t interval)
    : m_interval(interval), m_left(interval) {
    m_block.reserve(kMaxBlock);
}

bool IcyMetadataReader::Feed(QByteArrayView bytes) {
    return Feed(bytes, nullptr, nullptr);
}

IcyMetadataReader::Phase IcyMetadataReader::Position() const {
    switch (m_part) {
    case Part::Audio:
        return {m_left, 0};
    case Part::Length:
        return {0, 0};
    case Part::Block:
        return {0, m_left};
    }
    return {};
}

bool IcyMetadataReader::Feed(QByteArrayView bytes, QByteArray* audio, qsizetype* titleAt) {
    m_changed = false;
    while (!bytes.isEmpty()) {
        switch (m_part) {
        case Part::Audio: {
            const auto n = static_cast<qsizetype>(
                std::min<std::uint64_t>(m_left, static_cast<std::uint64_t>(bytes.size())));
            if (audio)
                audio->append(bytes.first(n));
            bytes = bytes.sliced(n);
            m_left -= static_cast<std::uint64_t>(n);
            if (m_left == 0)
                m_part = Part::Length;
            break;
        }
        case Part::Length: {
            const auto units = static_cast<std::uint8_t>(bytes.front());
            bytes = bytes.sliced(1);
            m_block.clear();
            m_part = units == 0 ? Part::Audio : Part::Block;
            m_left = units == 0 ? m_interval : units * 16u;
            break;
        }
        case Part::Block: {
            const auto n = static_cast<qsizetype>(
                std::min<std::uint64_t>(m_left, static_cast<std::uint64_t>(bytes.size())));
            m_block.append(bytes.first(n));
            bytes = bytes.sliced(n);
            m_left -= static_cast<std::uint64_t>(n);
            if (m_left == 0) {
                if (EndBlock() && titleAt)
                    *titleAt = audio ? audio->size() : 0;
                m_part = Part::Audio;
                m_left = m_interval;
            }
            break;
        }
        }
    }
    return m_changed;
}

bool IcyMetadataReader::EndBlock() {
    const std::optional<QByteArray> title = IcyStreamTitle(m_block);
    // An empty title after a named one (a fallback mount left for the live
    // one, say) is news too: nothing is playing by name any more.
    if (!title || *title == m_title)
        return false;
    m_title = *title;
    m_changed = true;
    return true;
}

IcyFramer::IcyFramer(std::uint32_t interval, IcyMetadataReader::Phase phase, QByteArray lastTitle)
    : m_interval(interval), m_phase(phase), m_lastTitle(std::move(lastTitle)) {}

std::optional<QByteArray> IcyFramer::Frame(QByteArrayView audio, const QByteArray& title,
                                           QByteArray* out) {
    std::optional<QByteArray> named;
    if (m_phase.blockLeft > 0) {
        out->append(static_cast<qsizetype>(m_phase.blockLeft), '\0');
        m_phase = {m_interval, 0};
    }
    while (!audio.isEmpty()) {
        if (m_phase.audioLeft == 0) {
            QByteArray block;
            if (title != m_lastTitle || m_restarted) {
                // Cut to what one length byte can count, the closing "';" kept.
                named = title.left(IcyMetadataReader::kMaxBlock - 18);
                block = (m_restarted ? "';StreamTitle='" : "StreamTitle='") + *named + "';";
                m_lastTitle = title;
                m_restarted = false;
            }
            const auto units = (block.size() + 15) / 16;
            out->append(static_cast<char>(units));
            out->append(block);
            out->append(units * 16 - block.size(), '\0');
            m_phase.audioLeft = m_interval;
        }
        const auto n = static_cast<qsizetype>(
            std::min<std::uint64_t>(m_phase.audioLeft, static_cast<std::uint64_t>(audio.size())));
        out->append(audio.first(n));
        audio = audio.sliced(n);
        m_phase.audioLeft -= static_cast<std::uint64_t>(n);
    }
    return named;
}

void IcyFramer::Restart() {
    m_phase = {m_interval, 0};
    m_restarted = true;
}

std::optional<QByteArray> IcyStreamTitle(QByteArrayView block) {
    static constexpr char kKey[] = "StreamTitle='";
    constexpr qsizetype kKeySize = sizeof(kKey) - 1;
    while (!block.isEmpty() && block.back() == '\0')
        block.chop(1);
    // Fields are key='value'; pairs: the key starts the block or follows a
    // field's end.
    for (qsizetype at = 0; at + kKeySize <= block.size(); ++at) {
        if (at > 0 && block[at - 1] != ';' && block[at - 1] != ' ')
            continue;
        if (qstrnicmp(block.data() + at, kKeySize, kKey, kKeySize) != 0)
            continue;
        QByteArrayView value = block.sliced(at + kKeySize);
        const qsizetype end = value.indexOf("';");
        if (end >= 0)
            value.truncate(end);
        else if (value.endsWith('\''))
            value.chop(1);
        return value.toByteArray();
    }
    return std::nullopt;
}

} // namespace didira
