#include "player/AutoplugPreferences.h"

#include <gst/gst.h>
#include <mutex>
#include <thread>

namespace didira {

namespace {

void SetRank(const char* factoryName, guint rank) {
    GstElementFactory* factory = gst_element_factory_find(factoryName);
    if (!factory)
        return; // not installed: nothing to prefer or avoid
    gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(factory), rank);
    gst_object_unref(factory);
}

// Loads a plugin on a thread of its own, so that the first stream that needs
// it does not wait for the load; joined at exit.
class PluginPreload {
public:
    explicit PluginPreload(const char* name)
        : m_thread([name] {
              if (GstPlugin* plugin = gst_plugin_load_by_name(name))
                  gst_object_unref(plugin);
          }) {}
    ~PluginPreload() { m_thread.join(); }
    PluginPreload(const PluginPreload&) = delete;
    PluginPreload& operator=(const PluginPreload&) = delete;

private:
    std::thread m_thread;
};

} // namespace

// The libav plugin links the whole of FFmpeg and takes 0.1 to 0.5 s to load
// (and some 30 MiB). A radio stream should not wait for it: MP3, Ogg and the
// choice of HLS demuxer do without it, and it is loaded in the background for
// AAC (HLS included) once the player is idle or playing, long before a
// listener picks a station in the window.
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
        // and loses on the name. AAC stays with libav: faad would spare the
        // load, but a new faad chain gives nothing for its first frame: a gap
        // of some 25 ms heard where an HLS station changes variant.
        SetRank("mpg123audiodec", GST_RANK_PRIMARY);
    });
}

void PreloadSlowDecoders() {
    static std::once_flag once;
    std::call_once(once, [] { static PluginPreload libav("libav"); });
}

} // namespace didira
