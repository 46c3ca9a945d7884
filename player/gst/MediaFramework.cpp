#include "player/gst/MediaFramework.h"

#include "player/gst/GstHandle.h"

namespace didira {

bool StartMediaFramework(QString* error) {
    GError* rawError = nullptr;
    if (gst_init_check(nullptr, nullptr, &rawError))
        return true;
    gst::ErrorPtr initError(rawError);
    if (error)
        *error = QStringLiteral("GStreamer cannot start: %1")
                     .arg(QString::fromUtf8(initError ? initError->message : "?"));
    return false;
}

} // namespace didira
