#include "player/output/OutputFallback.h"

#include "player/gst/GstHandle.h"

#include <gst/gst.h>

namespace didira {

namespace {

bool MadeBy(GstElement* element, const char* factoryName) {
    GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
    return factory && g_strcmp0(GST_OBJECT_NAME(factory), factoryName) == 0;
}

} // namespace

bool HasRealAudioOutput(GstElement* pipeline) {
    if (!pipeline || !GST_IS_BIN(pipeline))
        return true;
    bool real = true;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    bool done = false;
    while (!done) {
        switch (gst_iterator_next(it, &item)) {
        case GST_ITERATOR_OK: {
            auto* element = GST_ELEMENT(g_value_get_object(&item));
            if (MadeBy(element, "fakesink")) {
                std::unique_ptr<GstObject, gst::ObjectUnref> parent(
                    gst_object_get_parent(GST_OBJECT(element)));
                if (parent && GST_IS_ELEMENT(parent.get()) &&
                    MadeBy(GST_ELEMENT(parent.get()), "autoaudiosink"))
                    real = false;
            }
            g_value_reset(&item);
            break;
        }
        case GST_ITERATOR_RESYNC:
            real = true;
            gst_iterator_resync(it);
            break;
        case GST_ITERATOR_ERROR:
        case GST_ITERATOR_DONE:
            done = true;
            break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return real;
}

QStringList AutomaticAudioSinks() {
    // The automatic sink's own choice: audio sinks of at least marginal rank,
    // best first.
    GList* factories = gst_element_factory_list_get_elements(
        GST_ELEMENT_FACTORY_TYPE_SINK | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_MARGINAL);
    factories = g_list_sort(factories, gst_plugin_feature_rank_compare_func);
    QStringList names;
    for (GList* f = factories; f; f = f->next)
        names << QString::fromUtf8(GST_OBJECT_NAME(f->data));
    gst_plugin_feature_list_free(factories);
    return names;
}

} // namespace didira
