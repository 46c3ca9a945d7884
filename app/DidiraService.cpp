#include "app/DidiraService.h"

#include "app/HistoryBus.h"
#include "app/LiveActions.h"
#include "app/SleepTimer.h"
#include "control/SongHistory.h"
#include "ui/VavarozDlg.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>

namespace didira {

namespace {

class DidiraAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.didira.Didira1")
    Q_PROPERTY(uint SleepRemaining READ SleepRemaining)
    Q_PROPERTY(bool Recording READ Recording)
public:
    explicit DidiraAdaptor(CDidiraService* service)
        : QDBusAbstractAdaptor(service), m_service(service) {}
    uint SleepRemaining() const {
        return static_cast<uint>(m_service->SleepTimer().RemainingSeconds());
    }
    bool Recording() const {
        const CVavarozDlg* dlg = m_service->Dialog();
        return dlg && live::IsRecording(*dlg);
    }

public slots:
    void Pause() { Live(&live::Pause, QStringLiteral("Pause")); }
    void Resume() { Live(&live::Resume, QStringLiteral("Resume")); }
    void GoLive() { Live(&live::GoLive, QStringLiteral("GoLive")); }
    void StartRecording() {
        m_service->Defer(
            QStringLiteral("StartRecording"), [](CVavarozDlg& dlg, CDidiraService::Outcome done) {
                return live::StartRecording(dlg, [done](const QString& error) { done(error, {}); });
            });
    }
    void StopRecording() { Live(&live::StopRecording, QStringLiteral("StopRecording")); }
    // Answers the files written and the seconds of the station they hold.
    QStringList SaveLast(uint seconds, uint& saved) {
        saved = 0;
        m_service->Defer(QStringLiteral("SaveLast"), [seconds](CVavarozDlg& dlg,
                                                               CDidiraService::Outcome done) {
            return live::SaveLast(dlg, qint64(seconds) * 1000,
                                  [done](const QString& error, const OleControl::SavedAudio& s) {
                                      done(error, {s.files, uint((s.ms + 500) / 1000)});
                                  });
        });
        return {};
    }
    void SleepAfter(uint seconds) { m_service->SleepTimer().Start(std::chrono::seconds(seconds)); }
    didira::BusHistory History(uint count) { return m_service->AnswerHistory(count); }

signals:
    void TitleHeard(const QString& station, const QString& title);

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
    RegisterHistoryBusTypes();
    m_pAdaptor = new DidiraAdaptor(this);
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

void CDidiraService::ServeHistory(const CSongHistory& history) {
    m_pHistory = &history;
    auto* adaptor = static_cast<DidiraAdaptor*>(m_pAdaptor);
    connect(&history, &CSongHistory::entryAdded, adaptor, [adaptor](const HeardEntry& entry) {
        emit adaptor->TitleHeard(entry.station, entry.title);
    });
}

BusHistory CDidiraService::AnswerHistory(uint count) {
    const CSongHistory* history = m_pHistory;
    if (!history || history->CurrentState() != CSongHistory::State::Opening || !calledFromDBus())
        return HistoryForBus(history, count);
    // Until the file is read, only what was heard since is known: the reply
    // waits for the rest.
    setDelayedReply(true);
    const QDBusMessage call = message();
    const QDBusConnection bus = connection();
    auto* waiting = new QObject(this);
    connect(history, &CSongHistory::stateChanged, waiting, [waiting, history, call, bus, count] {
        bus.send(call.createReply(QVariant::fromValue(HistoryForBus(history, count))));
        waiting->deleteLater();
    });
    return {};
}

CVavarozDlg* CDidiraService::Dialog() const {
    return m_pDlg;
}

QString CDidiraService::WhyNotKept(const QString& what) const {
    const QString why = m_pDlg ? live::Problem(*m_pDlg) : QString();
    return why.isEmpty()
               ? QStringLiteral("%1: no live station is playing, or nothing of it is kept yet")
                     .arg(what)
               : QStringLiteral("%1: nothing of the station is kept: %2").arg(what, why);
}

void CDidiraService::RefuseUnlessDone(bool done, const QString& what) {
    if (!done && calledFromDBus())
        sendErrorReply(QString::fromLatin1(kDidiraNotPlaying), WhyNotKept(what));
}

void CDidiraService::Defer(const QString& what,
                           const std::function<bool(CVavarozDlg&, Outcome)>& act) {
    CVavarozDlg* dlg = Dialog();
    if (!calledFromDBus()) {
        if (dlg)
            act(*dlg, [](const QString&, const QVariantList&) {});
        return;
    }
    setDelayedReply(true);
    const QDBusMessage call = message();
    const QDBusConnection bus = connection();
    const Outcome done = [call, bus, what](const QString& error, const QVariantList& answer) {
        bus.send(error.isEmpty()
                     ? call.createReply(answer)
                     : call.createErrorReply(QString::fromLatin1(kDidiraFailed),
                                             QStringLiteral("%1: %2").arg(what, error)));
    };
    if (!dlg || !act(*dlg, done))
        bus.send(call.createErrorReply(QString::fromLatin1(kDidiraNotPlaying), WhyNotKept(what)));
}

} // namespace didira

#include "DidiraService.moc"
