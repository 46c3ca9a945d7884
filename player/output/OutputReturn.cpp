#include "player/output/OutputReturn.h"

#include "player/gst/DetachedWork.h"
#include "player/gst/GstHandle.h"
#include "player/output/OutputFallback.h"

#include <gst/gst.h>

namespace didira {

OutputReturn::OutputReturn(QByteArray sinkDescription, QObject* parent)
    : QObject(parent), m_sinkDescription(std::move(sinkDescription)) {
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &OutputReturn::Look);
    m_owner->watcher = this;
}

OutputReturn::~OutputReturn() {
    std::lock_guard lock(m_owner->mutex);
    m_owner->watcher = nullptr;
}

void OutputReturn::Start() {
    if (!m_timer.isActive())
        m_timer.start();
}

void OutputReturn::Stop() {
    m_timer.stop();
}

bool OutputReturn::OutputOpens(const QByteArray& sinkDescription) {
    GError* error = nullptr;
    GstElement* built = gst_parse_bin_from_description(sinkDescription.constData(), TRUE, &error);
    g_clear_error(&error);
    if (!built)
        return false;
    gst::ElementPtr sink(GST_ELEMENT(gst_object_ref_sink(built)));
    const bool opens =
        gst_element_set_state(sink.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE &&
        HasRealAudioOutput(sink.get());
    gst_element_set_state(sink.get(), GST_STATE_NULL);
    return opens;
}

void OutputReturn::Look() {
    if (m_inFlight)
        return;
    // A thread of its own that nobody waits for: a sound server that hangs
    // may keep it forever, and must not keep the process's end with it.
    m_inFlight = DetachedWork::Run([owner = m_owner, sink = m_sinkDescription] {
        const bool opens = OutputOpens(sink);
        // The watcher goes on the UI thread under the same lock: while it is
        // there, a call posted to it is delivered or dropped with it.
        std::lock_guard lock(owner->mutex);
        if (OutputReturn* watcher = owner->watcher)
            QMetaObject::invokeMethod(
                watcher, [watcher, opens] { watcher->Looked(opens); }, Qt::QueuedConnection);
    });
}

void OutputReturn::Looked(bool opens) {
    m_inFlight = false;
    if (!opens || !m_timer.isActive())
        return;
    m_timer.stop();
    emit Back();
}

} // namespace didira
