#pragma once
// Didira's own bus interface, for scripts and tests: the listener's actions
// that MPRIS has no word for.
//
// Bus surface: object /org/didira/Didira, interface org.didira.Didira1, on
// the connection that serves MPRIS. Methods: Pause, Resume, GoLive,
// StartRecording, StopRecording, SaveLast(u seconds), SleepAfter(u seconds;
// 0 turns the timer off). Property: SleepRemaining (u, seconds until the
// sleep timer's fade; 0 when off or fading). A method this build cannot carry
// out answers org.didira.Didira1.Error.NotAvailable; Pause, Resume and GoLive
// while no live station plays (or nothing of it is kept) answer
// org.didira.Didira1.Error.NotPlaying.

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QPointer>
#include <QString>

namespace didira {

class CSleepTimer;
class CVavarozDlg;

inline constexpr char kDidiraPath[] = "/org/didira/Didira";
inline constexpr char kDidiraInterface[] = "org.didira.Didira1";
inline constexpr char kDidiraNotAvailable[] = "org.didira.Didira1.Error.NotAvailable";
inline constexpr char kDidiraNotPlaying[] = "org.didira.Didira1.Error.NotPlaying";

class CDidiraService final : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    // sleep must outlive this object; the live buffer's actions act on dlg
    // while it lives.
    CDidiraService(CSleepTimer& sleep, CVavarozDlg* dlg, const QDBusConnection& bus,
                   QObject* parent = nullptr);
    ~CDidiraService() override;
    Q_DISABLE_COPY_MOVE(CDidiraService)

    // Exports the object; false when it cannot be exported.
    bool Register();

    CSleepTimer& SleepTimer() const { return m_sleep; }
    CVavarozDlg* Dialog() const; // null once it has gone
    // Answers the bus call being served with NotAvailable.
    void RefuseUnavailable(const QString& what);
    // Answers the bus call being served with NotPlaying unless done.
    void RefuseUnlessDone(bool done, const QString& what);

private:
    CSleepTimer& m_sleep;
    QPointer<CVavarozDlg> m_pDlg;
    QDBusConnection m_bus;
    bool m_bRegistered = false;
};

} // namespace didira
