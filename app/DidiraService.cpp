#include "app/DidiraService.h"

#include "app/LiveActions.h"
#include "app/SleepTimer.h"
#include "ui/VavarozDlg.h"

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
    void Pause() { Live(&live::Pause, QStringLiteral("Pause")); }
    void Resume() { Live(&live::Resume, QStringLiteral("Resume")); }
    void GoLive() { Live(&live::GoLive, QStringLiteral("GoLive")); }
    // Recording: not built into this version yet.
    void StartRecording() { m_service->RefuseUnavailable(QStringLiteral("StartRecording")); }
    void StopRecording() { m_service->RefuseUnavailable(QStringLiteral("StopRecording")); }
    void SaveLast(uint) { m_service->RefuseUnavailable(QStringLiteral("SaveLast")); }
    void SleepAfter(uint seconds) { m_service->SleepTimer().Start(std::chrono::seconds(seconds)); }

private:
    void Live(bool (*action)(CVavarozDlg&), const QString& what) {
        CVavarozDlg* dlg = m_service->Dialog();
        m_service->RefuseUnlessDone(dlg && action(*dlg), what);
    }
    CDidiraService* m_service;
};

} // namespace

CDidiraService::CDidiraService(CSleepTimer& sleep, CVavarozDlg* dlg, const QDBusConnection& bus,
                               QObject* parent)
    : QObject(parent), m_sleep(sleep), m_pDlg(dlg), m_bus(bus) {
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
                       QStringLiteral("%1: this version of Didira cannot record").arg(what));
}

CVavarozDlg* CDidiraService::Dialog() const {
    return m_pDlg;
}

void CDidiraService::RefuseUnlessDone(bool done, const QString& what) {
    if (!done && calledFromDBus())
        sendErrorReply(
            QString::fromLatin1(kDidiraNotPlaying),
            QStringLiteral("%1: no live station is playing, or nothing of it is kept").arg(what));
}

} // namespace didira

#include "DidiraService.moc"
