#include "player/engine/AutoplugPreferences.h"

#include "player/gst/BackgroundTask.h"
#include "player/gst/GstHandle.h"
#include "player/gst/MappedBuffer.h"

#include <atomic>
#include <gst/gst.h>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace didira {

namespace {

void SetRank(const char* factoryName, guint rank) {
    GstElementFactory* factory = gst_element_factory_find(factoryName);
    if (!factory)
        return; // not installed: nothing to prefer or avoid
    gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(factory), rank);
    gst_object_unref(factory);
}

void LoadPlugin(const char* name) {
    if (GstPlugin* plugin = gst_plugin_load_by_name(name))
        gst_object_unref(plugin);
}

// Parses the pad template caps of every element playbin may pick, which the
// registry keeps as text until first used and parsed from then on, so that
// playbin's first match of decoders against sinks does not parse them on the
// way to the first sound.
void ParseTemplateCaps() {
    for (GstElementFactoryListType type :
         {GST_ELEMENT_FACTORY_TYPE_DECODABLE, GST_ELEMENT_FACTORY_TYPE_AUDIOVIDEO_SINKS}) {
        GList* factories = gst_element_factory_list_get_elements(type, GST_RANK_MARGINAL);
        for (GList* l = factories; l; l = l->next) {
            const GList* templates =
                gst_element_factory_get_static_pad_templates(GST_ELEMENT_FACTORY(l->data));
            for (; templates; templates = templates->next) {
                auto* pad = static_cast<GstStaticPadTemplate*>(templates->data);
                gst_caps_unref(gst_static_pad_template_get_caps(pad));
            }
        }
        gst_plugin_feature_list_free(factories);
    }
}

bool IsLoaded(const char* pluginName) {
    GstPlugin* plugin = gst_registry_find_plugin(gst_registry_get(), pluginName);
    const bool loaded = plugin && gst_plugin_is_loaded(plugin);
    if (plugin)
        gst_object_unref(plugin);
    return loaded;
}

bool IsInstalled(const char* factoryName) {
    GstElementFactory* factory = gst_element_factory_find(factoryName);
    if (factory)
        gst_object_unref(factory);
    return factory != nullptr;
}

// decodebin's answers to "autoplug-select" (its enum is not in a public header).
enum class AutoplugSelect : gint { Try = 0, Expose = 1, Skip = 2 };

// What one decodebin has learnt of its stream: whether it can move between
// variants (an HLS master playlist with several, DASH, Smooth Streaming),
// and which pad leads to its first AAC chain.
struct StreamShape {
    std::atomic_bool variants{false};
    std::atomic<GstPad*> firstAacChain{nullptr}; // compared only, never used
};

using ShapeRef = std::shared_ptr<StreamShape>;
const GQuark kShapeKey = g_quark_from_static_string("didira-stream-shape");

void DeleteShapeRef(gpointer data) {
    delete static_cast<ShapeRef*>(data);
}

// Set once a stream that may change variant has started without libav.
std::atomic_bool g_slowDecodersWanted{false};

// Reads an HLS playlist as the demuxer receives it (it comes whole before
// any segment): two variants or more make a master the demuxer switches in.
struct PlaylistScan {
    static constexpr std::size_t kMaxBytes = 1 << 20;
    ShapeRef shape;
    std::string text;
};

GstPadProbeReturn ScanPlaylist(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& scan = *static_cast<PlaylistScan*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || scan.text.size() > PlaylistScan::kMaxBytes)
        return GST_PAD_PROBE_OK;
    const gst::MappedBuffer mapped(buffer);
    if (!mapped.ok())
        return GST_PAD_PROBE_OK;
    scan.text.append(mapped.bytes().data(), static_cast<std::size_t>(mapped.bytes().size()));
    const std::string_view tag = "#EXT-X-STREAM-INF";
    const std::size_t first = scan.text.find(tag);
    if (first == std::string::npos || scan.text.find(tag, first + 1) == std::string::npos)
        return GST_PAD_PROBE_OK;
    scan.shape->variants = true;
    return GST_PAD_PROBE_REMOVE;
}

GstPadProbeReturn MeasureFromNowOn(GstPad* pad, GstPadProbeInfo*, gpointer) {
    if (GstObject* demuxer = gst_pad_get_parent(pad)) {
        g_object_set(demuxer, "connection-speed", 0u, nullptr);
        gst_object_unref(demuxer);
    }
    return GST_PAD_PROBE_REMOVE;
}

void OnDemuxerPad(GstElement*, GstPad* pad, gpointer) {
    if (GST_PAD_IS_SRC(pad))
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, MeasureFromNowOn, nullptr, nullptr);
}

// Whether faad decodes the AAC profile of caps: LC (HE-AAC is signalled as
// LC), Main and LTP. The others, such as AAC-ELD, and streams whose parser
// could not name the profile are left to libav, which decodes them all.
bool FaadDecodes(GstCaps* caps) {
    const GstStructure* s =
        caps && !gst_caps_is_empty(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
    const char* profile = s ? gst_structure_get_string(s, "profile") : nullptr;
    if (!profile)
        return false;
    const std::string_view p(profile);
    return p == "lc" || p == "main" || p == "ltp";
}

// AAC by faad or by libav. faad loads at once, where libav is slow to load.
// But faad holds back one frame: a chain that ends gives nothing for its last
// frame, and a new one nothing for its first, heard as a gap of one frame
// where an adaptive stream changes variant and a new chain takes over.
// So faad decodes AAC while libav is not loaded, except for the later chains
// of a stream that changes variant; libav is loaded for them once the first
// is heard (PreloadSlowDecodersIfWanted). Such a stream starts on its best
// variant and changes only when the connection cannot keep up; only then,
// and only in a station started before libav was loaded, is the frame that
// faad held back missed.
AutoplugSelect SelectAacDecoder(GstElement*, GstPad* pad, GstCaps* caps, GstElementFactory* factory,
                                gpointer data) {
    // libav has two AAC decoders of equal rank.
    if (g_strcmp0(gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(factory)), "libav") != 0 ||
        !g_str_has_prefix(GST_OBJECT_NAME(factory), "avdec_aac"))
        return AutoplugSelect::Try;
    static const bool haveFaad = IsInstalled("faad");
    if (!haveFaad || IsLoaded("libav") || !FaadDecodes(caps))
        return AutoplugSelect::Try;
    StreamShape& shape = *static_cast<ShapeRef*>(data)->get();
    if (!shape.variants)
        return AutoplugSelect::Skip;
    GstPad* none = nullptr;
    if (!shape.firstAacChain.compare_exchange_strong(none, pad) && none != pad)
        return AutoplugSelect::Try; // a later chain
    g_slowDecodersWanted = true;
    return AutoplugSelect::Skip;
}

} // namespace

// The libav plugin links the whole of FFmpeg: slow to load and large. A
// radio stream does not wait for it: MP3, Ogg, the choice of HLS demuxer and
// AAC do without it. Only AAC streams that change
// variant need it later (see SelectAacDecoder); it is loaded in the
// background while the listener is still choosing a station, or once such a
// stream is heard.
void ApplyAutoplugPreferences() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The streams-aware adaptive demuxers outrank the classic ones but
        // work only in playbin3: playbin tries each first, loads its plugin
        // and fails, on every HLS (or DASH) start.
        for (const char* name : {"hlsdemux2", "dashdemux2", "mssdemux2"})
            SetRank(name, GST_RANK_NONE);
        // libav's typefinders (old game and video formats) are tried on any
        // stream that no other typefinder is sure of at once, such as MP3 or
        // ADTS joined mid-stream, and load the plugin to do so. Loading it
        // later for another reason registers them again.
        GstRegistry* registry = gst_registry_get();
        GList* features = gst_registry_get_feature_list_by_plugin(registry, "libav");
        for (GList* l = features; l; l = l->next) {
            if (GST_IS_TYPE_FIND_FACTORY(l->data))
                gst_registry_remove_feature(registry, GST_PLUGIN_FEATURE(l->data));
        }
        gst_plugin_feature_list_free(features);
        // MP3 and MP2 by mpg123, which otherwise ties with libav's decoder
        // and loses on the name. AAC: see SelectAacDecoder.
        SetRank("mpg123audiodec", GST_RANK_PRIMARY);
        static BackgroundTask parse(ParseTemplateCaps);
    });
}

void PreloadSlowDecoders() {
    static std::once_flag once;
    // Loading a plugin registers its elements afresh, with their caps as text.
    std::call_once(once, [] {
        static BackgroundTask libav([] {
            LoadPlugin("libav");
            ParseTemplateCaps();
        });
    });
}

// An HLS demuxer starts on the first variant its playlist lists (often the
// poorest) and moves to a better one after the first segment: a change of
// decoding chain, and of sound, two seconds in. Told a fast connection, it
// starts on the best variant an audio station offers instead, and measures
// the connection from its first segment on (OnDemuxerPad). The demuxer takes
// the speed from playbin, which overrides any set on it directly.
void PreferBestVariantAtStart(GstElement* playbin) {
    constexpr guint64 kStartConnectionKbps = 1000;
    g_object_set(playbin, "connection-speed", kStartConnectionKbps, nullptr);
}

void PreloadSlowDecodersIfWanted() {
    if (g_slowDecodersWanted)
        PreloadSlowDecoders();
}

void ChooseDecodersIn(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    const char* name = factory ? GST_OBJECT_NAME(factory) : "";
    if (g_str_equal(name, "decodebin")) {
        auto* shape = new ShapeRef(std::make_shared<StreamShape>());
        g_object_set_qdata_full(G_OBJECT(element), kShapeKey, shape, DeleteShapeRef);
        // Runs after the handlers of playbin and uridecodebin, which pass on
        // decoders they have no objection to.
        g_signal_connect(element, "autoplug-select", G_CALLBACK(SelectAacDecoder), shape);
        return;
    }
    GstObject* parent = GST_OBJECT_PARENT(element);
    auto* shape =
        parent ? static_cast<ShapeRef*>(g_object_get_qdata(G_OBJECT(parent), kShapeKey)) : nullptr;
    if (!shape)
        return;
    const bool hls = g_str_equal(name, "hlsdemux");
    if (!hls && !g_str_equal(name, "dashdemux") && !g_str_equal(name, "mssdemux"))
        return;
    // The connection speed it starts from: measured from its first segment.
    g_signal_connect(element, "pad-added", G_CALLBACK(OnDemuxerPad), nullptr);
    if (!hls)
        shape->get()->variants = true;
    else if (gst::PadPtr pad{gst_element_get_static_pad(element, "sink")})
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, ScanPlaylist,
                          new PlaylistScan{*shape, {}},
                          [](gpointer data) { delete static_cast<PlaylistScan*>(data); });
}

} // namespace didira
