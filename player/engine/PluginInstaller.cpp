#include "player/engine/PluginInstaller.h"

#include <QPointer>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

namespace didira {

// What the installer's callback reaches; it outlives the installer object
// when that goes first, and the callback deletes it.
struct PluginInstaller::Pending {
    QPointer<PluginInstaller> owner;
};

PluginInstaller::PluginInstaller(QObject* parent) : QObject(parent) {}

PluginInstaller::~PluginInstaller() {
    if (m_pending)
        m_pending->owner.clear();
}

bool PluginInstaller::Available() {
    return gst_install_plugins_supported();
}

bool PluginInstaller::Offer(const QByteArray& detail) {
    if (m_running || detail.isEmpty() || !Available())
        return false;
    auto* pending = new Pending{this};
    const gchar* details[] = {detail.constData(), nullptr};
    // The callback runs from the default main context, which Qt's event loop
    // drives: on this thread.
    const GstInstallPluginsReturn started = gst_install_plugins_async(
        details, nullptr,
        [](GstInstallPluginsReturn result, gpointer data) {
            Pending* p = static_cast<Pending*>(data);
            if (result == GST_INSTALL_PLUGINS_SUCCESS ||
                result == GST_INSTALL_PLUGINS_PARTIAL_SUCCESS)
                gst_update_registry();
            if (p->owner)
                p->owner->Done(result);
            delete p;
        },
        pending);
    if (started != GST_INSTALL_PLUGINS_STARTED_OK) {
        delete pending;
        return false;
    }
    m_pending = pending;
    m_running = true;
    return true;
}

void PluginInstaller::Done(int result) {
    m_running = false;
    m_pending = nullptr;
    switch (static_cast<GstInstallPluginsReturn>(result)) {
    case GST_INSTALL_PLUGINS_SUCCESS:
    case GST_INSTALL_PLUGINS_PARTIAL_SUCCESS:
        emit Finished(Outcome::Installed);
        return;
    case GST_INSTALL_PLUGINS_NOT_FOUND:
        emit Finished(Outcome::NotFound);
        return;
    case GST_INSTALL_PLUGINS_USER_ABORT:
        emit Finished(Outcome::Declined);
        return;
    default:
        emit Finished(Outcome::Failed);
        return;
    }
}

} // namespace didira
