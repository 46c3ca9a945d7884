// Feeds arbitrary bytes to the metafile parser as if a server had sent them.
// The first byte picks the content type and the name the list came under.
#include "player/formats/MetafileParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const char* const kTypes[] = {
        "",           "video/x-ms-asf", "audio/x-scpls", "audio/x-mpegurl",
        "text/plain", "text/html",      "audio/mpeg"};
    static const char* const kBases[] = {"http://radio.example/dir/list.asx",
                                         "https://radio.example/x.pls", "http://radio.example/live",
                                         "file:///tmp/list.m3u"};
    const unsigned pick = data[0];
    const QString type = QString::fromLatin1(kTypes[pick % 7]);
    const QUrl base(QString::fromLatin1(kBases[(pick / 7) % 4]));
    const QByteArray body(reinterpret_cast<const char*>(data + 1),
                          static_cast<qsizetype>(size - 1));

    const didira::metafile::Result result = didira::metafile::Parse(body, base, type);
    for (const auto& entry : result.entries) {
        // Every entry is an absolute URL the player can hand on.
        if (entry.url.isRelative())
            __builtin_trap();
    }
    (void)didira::metafile::DecodeEntities(QString::fromUtf8(body));
    return 0;
}
