#include "player/AutoplugPreferences.h"

#include <gst/gst.h>
#include <mutex>

namespace didira {

namespace {

void SetRank(const char* factoryName, guint rank) {
    GstElementFactory* factory = gst_element_factory_find(factoryName);
    if (!factory)
        return; // not installed: nothing to prefer or avoid
    gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(factory), rank);
    gst_object_unref(factory);
}

} // namespace

void ApplyAutoplugPreferences() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The streams-aware adaptive demuxers outrank the classic ones but
        // work only in playbin3: playbin tries each first, loads its plugin
        // and fails, on every HLS (or DASH) start.
        for (const char* name : {"hlsdemux2", "dashdemux2", "mssdemux2"})
            SetRank(name, GST_RANK_NONE);
        // AAC (HLS radio, ADTS streams) is decoded by faad where it can be:
        // the libav decoders' plugin links the whole of FFmpeg and takes 0.1
        // to 0.3 s to load, which a listener hears as silence before the first
        // AAC station. libav still decodes what faad does not take (ADIF,
        // LATM) and everything else it is best at.
        SetRank("faad", GST_RANK_PRIMARY + 1);
    });
}

} // namespace didira
