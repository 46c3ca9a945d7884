#include "player/engine/MissingPlugins.h"

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <string>

namespace didira {

namespace {

constexpr char kBase[] = "gstreamer1.0-plugins-base";
constexpr char kGood[] = "gstreamer1.0-plugins-good";
constexpr char kBad[] = "gstreamer1.0-plugins-bad";
constexpr char kUgly[] = "gstreamer1.0-plugins-ugly";
constexpr char kLibav[] = "gstreamer1.0-libav";

struct Entry {
    std::string_view key;
    const char* package;
};

// Decoders and demuxers by the media type they take, as Debian 12 ships them.
constexpr Entry kByMediaType[] = {
    {"application/x-hls", kBad},
    {"application/dash+xml", kBad},
    {"application/vnd.ms-sstr+xml", kBad},
    {"video/mpegts", kBad},
    {"video/mpeg", kBad}, // program streams
    {"audio/x-vorbis", kBase},
    {"audio/x-opus", kBase},
    {"application/ogg", kBase},
    {"audio/x-flac", kGood},
    {"video/quicktime", kGood},
    {"audio/x-m4a", kGood},
    {"audio/x-wav", kGood},
    {"video/x-ms-asf", kUgly},
    {"audio/x-ac3", kUgly},
};

// Elements by name, and sources by URI scheme.
constexpr Entry kByElement[] = {
    {"faad", kBad},       {"hlsdemux", kBad},        {"dashdemux", kBad},
    {"tsdemux", kBad},    {"mpg123audiodec", kGood}, {"souphttpsrc", kGood},
    {"flacdec", kGood},   {"qtdemux", kGood},        {"asfdemux", kUgly},
    {"vorbisdec", kBase}, {"opusdec", kBase},        {"oggdemux", kBase},
};
constexpr Entry kByScheme[] = {
    {"http", kGood}, {"https", kGood}, {"rtsp", kGood}, {"mms", kBad}, {"mmsh", kBad},
};

const char* Find(const auto& table, std::string_view key) {
    for (const Entry& e : table)
        if (e.key == key)
            return e.package;
    return nullptr;
}

// The integer field name of caps text ("mpegversion=(int)4"); -1 when absent.
int IntField(std::string_view caps, std::string_view name) {
    for (std::size_t at = caps.find(name); at != std::string_view::npos;
         at = caps.find(name, at + 1)) {
        std::string_view rest = caps.substr(at + name.size());
        if (at > 0 && caps[at - 1] != ' ' && caps[at - 1] != ',')
            continue;
        if (!rest.starts_with('='))
            continue;
        rest.remove_prefix(1);
        if (rest.starts_with("(int)"))
            rest.remove_prefix(5);
        int value = 0;
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
            value = value * 10 + (rest[digits++] - '0');
        return digits > 0 ? value : -1;
    }
    return -1;
}

} // namespace

QString DebianPackageFor(std::string_view type, std::string_view detail) {
    const char* package = nullptr;
    if (type == "decoder" || type == "encoder") {
        const std::string_view media = detail.substr(0, detail.find(','));
        if (media == "audio/mpeg") {
            // MP1-3 by mpg123; AAC (MPEG-2 and MPEG-4) by faad.
            const int version = IntField(detail, "mpegversion");
            package = version == 2 || version == 4 ? kBad : kGood;
        } else if (media.starts_with("audio/x-wma") || media == "audio/x-alac" ||
                   media == "audio/x-eac3" || media == "audio/x-ape") {
            package = kLibav;
        } else {
            package = Find(kByMediaType, media);
        }
    } else if (type == "element") {
        package = detail.starts_with("avdec_") || detail.starts_with("avdemux_")
                      ? kLibav
                      : Find(kByElement, detail);
    } else if (type == "urisource" || type == "urisink") {
        package = Find(kByScheme, detail);
    }
    return package ? QString::fromLatin1(package) : QString();
}

std::optional<MissingPlugin> MissingPluginOf(GstMessage* message) {
    if (!gst_is_missing_plugin_message(message))
        return std::nullopt;
    const GstStructure* s = gst_message_get_structure(message);
    const gchar* type = gst_structure_get_string(s, "type");
    std::string detail;
    if (const GValue* value = gst_structure_get_value(s, "detail")) {
        if (G_VALUE_HOLDS_STRING(value)) {
            detail = g_value_get_string(value) ? g_value_get_string(value) : "";
        } else if (GST_VALUE_HOLDS_CAPS(value)) {
            gchar* text = gst_caps_to_string(gst_value_get_caps(value));
            detail = text ? text : "";
            g_free(text);
        }
    }
    MissingPlugin missing;
    gchar* description = gst_missing_plugin_message_get_description(message);
    missing.description = QString::fromUtf8(description);
    g_free(description);
    missing.package = DebianPackageFor(type ? type : "", detail);
    gchar* installer = gst_missing_plugin_message_get_installer_detail(message);
    missing.installerDetail = QByteArray(installer);
    g_free(installer);
    return missing;
}

} // namespace didira
