#pragma once
// Reading a tag list of the engine.

#include <QByteArrayView>
#include <gst/gst.h>

namespace didira {

// The first string of tag in tags as stored (UTF-8, see
// PrepareStreamTextEncoding); empty when there is none.
inline QByteArrayView TagString(const GstTagList* tags, const char* tag) {
    const gchar* value = nullptr;
    if (!gst_tag_list_peek_string_index(tags, tag, 0, &value) || !value)
        return {};
    return QByteArrayView(value);
}

} // namespace didira
