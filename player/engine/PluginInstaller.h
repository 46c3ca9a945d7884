#pragma once
// Offers to install what a stream was missing through GStreamer's plugin
// installer: the distribution's helper (or GST_INSTALL_PLUGINS_HELPER), which
// asks the listener and installs the package. Nothing happens on a system
// without a helper. One offer at a time; once something was installed the
// registry is read again, so that the next open finds it.

#include <QByteArray>
#include <QObject>

namespace didira {

class PluginInstaller final : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Installed, // all (or some) of what was asked for
        NotFound,  // the helper knows no package for it
        Declined,  // the listener said no
        Failed,    // the helper failed, or could not start
    };

    explicit PluginInstaller(QObject* parent = nullptr);
    ~PluginInstaller() override;
    Q_DISABLE_COPY_MOVE(PluginInstaller)

    // Whether this system has a helper to offer the install with.
    static bool Available();
    // Starts the helper for detail (a missing-plugin message's installer
    // detail); false when there is no helper or an offer runs already.
    bool Offer(const QByteArray& detail);
    bool IsRunning() const { return m_running; }

signals:
    // The helper ended (in the thread that made the offer).
    void Finished(didira::PluginInstaller::Outcome outcome);

private:
    struct Pending;
    void Done(int result);

    bool m_running = false;
    Pending* m_pending = nullptr; // owned by the installer's callback until it runs
};

} // namespace didira
