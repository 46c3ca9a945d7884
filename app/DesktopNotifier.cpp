#include "app/DesktopNotifier.h"

#include "app/DesktopEntry.h"
#include "control/ControlHost.h"
#include "control/SongHistory.h"
#include "ui/NowPlaying.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace didira {

namespace {

QDBusMessage NotificationsCall(const QString& method) {
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                          QStringLiteral("/org/freedesktop/Notifications"),
                                          QStringLiteral("org.freedesktop.Notifications"), method);
}

// How long the withdrawal at exit waits for the service.
constexpr int kExitCallTimeoutMs = 250;

QDBusMessage CloseCall(uint id) {
    QDBusMessage call = NotificationsCall(QStringLiteral("CloseNotification"));
    call.setArguments({id});
    return call;
}

} // namespace

CDesktopNotifier::CDesktopNotifier(const CNowPlaying& nowPlaying, const QDBusConnection& bus,
                                   QObject* parent)
    : QObject(parent), m_pNowPlaying(&nowPlaying), m_bus(bus) {
    connect(&nowPlaying, &CNowPlaying::titleChanged, this, &CDesktopNotifier::OnTitleChanged);
    connect(&nowPlaying, &CNowPlaying::statusChanged, this, &CDesktopNotifier::OnStatusChanged);
    connect(&nowPlaying, &CNowPlaying::interruptedChanged, this,
            &CDesktopNotifier::OnInterruptedChanged);
}

CDesktopNotifier::~CDesktopNotifier() {
    // A call made with send() alone may still be queued when the process
    // ends, so this one waits for its reply, briefly.
    if (m_nId != 0 && m_bus.isConnected())
        m_bus.call(CloseCall(m_nId), QDBus::Block, kExitCallTimeoutMs);
}

void CDesktopNotifier::OnStatusChanged() {
    const CNowPlaying* np = m_pNowPlaying;
    if (!np || np->PlaybackStatus() != CNowPlaying::Status::Stopped)
        return;
    // The title shown is no longer playing.
    m_bPending = false;
    m_bWithdraw = true;
    Pump();
}

void CDesktopNotifier::OnTitleChanged() {
    const CNowPlaying* np = m_pNowPlaying;
    if (!np || np->Title().isEmpty() || np->PlaybackStatus() != CNowPlaying::Status::Playing)
        return;
    Show(np->DisplayName(), np->Title());
}

void CDesktopNotifier::OnInterruptedChanged() {
    const CNowPlaying* np = m_pNowPlaying;
    if (!np || np->PlaybackStatus() != CNowPlaying::Status::Playing)
        return;
    if (np->IsInterrupted())
        Show(np->DisplayName(), QStringLiteral("接続が切れました。再接続しています…"));
    else if (!np->Title().isEmpty())
        Show(np->DisplayName(), np->Title()); // back: the title again, nothing more
}

void CDesktopNotifier::TellRecordingFailed(const QString& reason) {
    Show(QStringLiteral("録音できませんでした"), reason);
}

void CDesktopNotifier::TellRecordingFailures(const OleControl& control) {
    connect(&control, &OleControl::RecordingFailed, this, &CDesktopNotifier::TellRecordingFailed);
}

void CDesktopNotifier::TellHistoryTroubles(const CSongHistory& history) {
    connect(&history, &CSongHistory::trouble, this,
            [this](const QString& message) { Show(QStringLiteral("曲の履歴"), message); });
}

void CDesktopNotifier::Show(const QString& summary, const QString& body) {
    m_strSummary = summary;
    m_strBody = body;
    m_bPending = true;
    Pump();
}

void CDesktopNotifier::ServiceGone() {
    // A new service knows nothing of the old ids, and may differ in markup.
    m_nId = 0;
    m_markup = Markup::Unknown;
}

void CDesktopNotifier::Pump() {
    if (m_bInFlight || !m_bus.isConnected())
        return;
    if (m_bWithdraw) {
        m_bWithdraw = false;
        if (m_nId != 0)
            m_bus.send(CloseCall(m_nId));
        // The next title is a notification of its own.
        m_nId = 0;
    }
    if (!m_bPending)
        return;
    m_bInFlight = true;

    if (m_markup == Markup::Unknown) {
        // A service that reads markup in the body must get the title escaped.
        m_markup = Markup::Asking;
        auto* watcher = new QDBusPendingCallWatcher(
            m_bus.asyncCall(NotificationsCall(QStringLiteral("GetCapabilities"))), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* w) {
                    w->deleteLater();
                    m_bInFlight = false;
                    const QDBusPendingReply<QStringList> reply = *w;
                    if (reply.isError()) {
                        // No service: nothing is shown, and nothing waits.
                        ServiceGone();
                        m_bPending = false;
                        return;
                    }
                    m_markup = reply.value().contains(QStringLiteral("body-markup"))
                                   ? Markup::Supported
                                   : Markup::Unsupported;
                    Pump();
                });
        return;
    }

    const QString body = m_markup == Markup::Supported ? m_strBody.toHtmlEscaped() : m_strBody;
    QDBusMessage call = NotificationsCall(QStringLiteral("Notify"));
    call.setArguments(
        {QStringLiteral("Didira"), m_nId, QString::fromLatin1(kDesktopEntry), m_strSummary, body,
         QStringList(),
         QVariantMap{{QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntry)}}, -1});
    m_bPending = false;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        m_bInFlight = false;
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError())
            ServiceGone();
        else
            m_nId = reply.value();
        Pump();
    });
}

bool NotificationsWanted(QStringList& cmdLine) {
    const bool switchGiven = cmdLine.removeAll(QStringLiteral("--no-notifications")) > 0;
    const QString env = qEnvironmentVariable("DIDIRA_NO_NOTIFICATIONS");
    return !switchGiven && (env.isEmpty() || env == QLatin1String("0"));
}

} // namespace didira
