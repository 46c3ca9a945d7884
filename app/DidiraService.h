#pragma once
// Didira's own bus interface, for scripts and tests: the listener's actions
// that MPRIS has no word for.
//
// Bus surface: object /org/didira/Didira, interface org.didira.Didira1, on
// the connection that serves MPRIS. Methods: Pause, Resume, GoLive,
// StartRecording, StopRecording, SaveLast(u seconds) -> (as files, u seconds
// saved: less than asked when less was kept), SleepAfter(u seconds;
// 0 turns the timer off). Properties: SleepRemaining (u, seconds until the
// sleep timer's fade; 0 when off or fading), Recording (b). Pause, Resume,
// GoLive, StartRecording and SaveLast while no live station plays (or nothing
// of it is kept: an HLS station), and StopRecording while none runs, answer
// org.didira.Didira1.Error.NotPlaying, with the reason when nothing is kept
// of a station that plays (the cache folder refused, the disk failed).
// StartRecording answers once the folder is known to take the files, SaveLast
// once they are written; a folder that cannot be written or a full disk
// answer org.didira.Didira1.Error.Failed with the reason. History(u count) ->
// a(sss): the song history's newest count entries, newest first (time as ISO
// 8601, station, title; none without a history); signal TitleHeard(s station,
// s title) for each new entry (app/HistoryBus.h).

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <functional>

namespace didira {

class CSleepTimer;
class CSongHistory;
struct BusHeardEntry;
class CVavarozDlg;

inline constexpr char kDidiraPath[] = "/org/didira/Didira";
inline constexpr char kDidiraInterface[] = "org.didira.Didira1";
inline constexpr char kDidiraNotPlaying[] = "org.didira.Didira1.Error.NotPlaying";
inline constexpr char kDidiraFailed[] = "org.didira.Didira1.Error.Failed";

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
    // History and TitleHeard serve history (which must outlive this object).
    void ServeHistory(const CSongHistory& history);
    const CSongHistory* History() const { return m_pHistory; }
    // Serves the bus call History: at once, or (the reply delayed) once the
    // history's file is read. The rows of the answer given at once.
    QList<BusHeardEntry> AnswerHistory(uint count);

    CSleepTimer& SleepTimer() const { return m_sleep; }
    CVavarozDlg* Dialog() const; // null once it has gone
    // Answers the bus call being served with NotPlaying unless done.
    void RefuseUnlessDone(bool done, const QString& what);
    // Serves the bus call with an answer that comes later: act is given what
    // to call with the outcome (empty, or why it failed); act false answers
    // NotPlaying at once.
    // answer: what the call answers when done.
    using Outcome = std::function<void(const QString& error, const QVariantList& answer)>;
    void Defer(const QString& what, const std::function<bool(CVavarozDlg&, Outcome)>& act);

private:
    // The NotPlaying answer to what, with the player's reason when it has one.
    QString WhyNotKept(const QString& what) const;

    CSleepTimer& m_sleep;
    QPointer<CVavarozDlg> m_pDlg;
    const CSongHistory* m_pHistory = nullptr;
    QObject* m_pAdaptor = nullptr; // owned by this object
    QDBusConnection m_bus;
    bool m_bRegistered = false;
};

} // namespace didira
