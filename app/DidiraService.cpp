#include "app/DidiraService.h"

#include "app/SleepTimer.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>

namespace didira {

namespace {

class DidiraAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.didira.Didira1")
    Q_PROPERTY(uint SleepRemaining READ SleepRemaining)
public:
    explicit DidiraAdaptor(CDidiraService* service)
        : QDBusAbstractAdaptor(service), m_service(service) {}
    uint SleepRemaining() const {
        return static_cast<uint>(m_service->SleepTimer().RemainingSeconds());
    }

public slots:
    // The live buffer's actions: none is built into this version yet.
    void Pause() { m_service->RefuseUnavailable(QStringLiteral("Pause")); }
    void Resume() { m_service->RefuseUnavailable(QStringLiteral("Resume")); }
    void GoLive() { m_service->RefuseUnavailable(QStringLiteral("GoLive")); }
    void StartRecording() { m_service->RefuseUnavailable(QStringLiteral("StartRecording")); }
    void StopRecording() { m_service->RefuseUnavailable(QStringLiteral("StopRecording")); }
    void SaveLast(uint) { m_service->RefuseUnavailable(QStringLiteral("SaveLast")); }
    void SleepAfter(uint seconds) { m_service->SleepTimer().Start(std::chrono::seconds(seconds)); }

private:
    CDidiraService* m_service;
};

} // namespace

CDidiraService::CDidiraService(CSleepTimer& sleep, const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_sleep(sleep), m_bus(bus) {
    new DidiraAdaptor(this);
}

CDidiraService::~CDidiraService() {
    if (m_bRegistered)
        m_bus.unregisterObject(QString::fromLatin1(kDidiraPath));
}

bool CDidiraService::Register() {
    if (!m_bus.isConnected())
        return false;
    m_bRegistered = m_bus.registerObject(QString::fromLatin1(kDidiraPath), this,
                                         QDBusConnection::ExportAdaptors);
    return m_bRegistered;
}

void CDidiraService::RefuseUnavailable(const QString& what) {
    if (calledFromDBus())
        sendErrorReply(QString::fromLatin1(kDidiraNotAvailable),
                       QStringLiteral("%1: this version of Didira keeps no live buffer").arg(what));
}

} // namespace didira

#include "DidiraService.moc"
