#include "player/output/OutputProbe.h"

#include "player/gst/GstHandle.h"
#include "player/output/AudioOutputCheck.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <gst/gst.h>

namespace didira {

OutputProbe::OutputProbe(QByteArray sinkDescription, QObject* parent)
    : QObject(parent), m_sinkDescription(std::move(sinkDescription)) {
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &OutputProbe::Look);
}

OutputProbe::~OutputProbe() {
    *m_gone = true;
}

void OutputProbe::Start() {
    if (!m_timer.isActive())
        m_timer.start();
}

void OutputProbe::Stop() {
    m_timer.stop();
}

bool OutputProbe::OutputOpens(const QByteArray& sinkDescription) {
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

void OutputProbe::Look() {
    if (m_inFlight)
        return;
    m_inFlight = true;
    QThreadPool::globalInstance()->start([this, gone = m_gone, sink = m_sinkDescription] {
        const bool opens = OutputOpens(sink);
        // Back on the UI thread, where the probe is destroyed: no race on gone.
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, [this, gone, opens] {
                if (!*gone)
                    Looked(opens);
            });
    });
}

void OutputProbe::Looked(bool opens) {
    m_inFlight = false;
    if (!opens || !m_timer.isActive())
        return;
    m_timer.stop();
    emit Back();
}

} // namespace didira
