#pragma once
// The main dialog as a media player of the desktop (MPRIS2): the desktop's
// media controls and keys drive it, and see what it plays.
//
// Bus surface: name org.mpris.MediaPlayer2.didira (a further process on the
// same bus: org.mpris.MediaPlayer2.didira.instance<pid>), object
// /org/mpris/MediaPlayer2, interfaces org.mpris.MediaPlayer2 and
// org.mpris.MediaPlayer2.Player. Commands act through the dialog's own
// handlers (ui/DlgRemote.h); property changes are announced with
// PropertiesChanged, once per pass of the event loop, only for values that
// changed.

#include "app/DesktopEntry.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QVariantMap>
#include <memory>

namespace didira {

class CVavarozDlg;

inline constexpr char kMprisName[] = "org.mpris.MediaPlayer2.didira";
inline constexpr char kMprisPath[] = "/org/mpris/MediaPlayer2";
inline constexpr char kMprisRootInterface[] = "org.mpris.MediaPlayer2";
inline constexpr char kMprisPlayerInterface[] = "org.mpris.MediaPlayer2.Player";

class CMprisService final : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    // Serves dlg, which must be created (its controls exist) and outlive
    // this object.
    CMprisService(CVavarozDlg& dlg, const QDBusConnection& bus, QObject* parent = nullptr);
    ~CMprisService() override;
    Q_DISABLE_COPY_MOVE(CMprisService)

    // Exports the object and asks for the name without waiting for the bus;
    // false when the object cannot be exported.
    bool Register();
    // The name owned; empty until the bus has granted one.
    QString BusName() const { return m_strName; }

    // The player interface's property values as served now.
    QVariantMap PlayerProperties() const;
    QVariantMap Metadata() const;

    // Answers the bus call being served with an error (no reply otherwise).
    void RefuseCall(const QString& message);

    // The dialog served; null once it is gone.
    CVavarozDlg* Dialog() const;

private:
    void RequestName(const QString& name, bool fallBack);
    void ScheduleRefresh();
    void Refresh();
    // A PNG of the flag image, written once into a directory of this process.
    QString ArtworkFile(int flag) const;

    QPointer<CVavarozDlg> m_pDlg;
    QDBusConnection m_bus;
    QString m_strName;
    bool m_bRegistered = false;
    bool m_bRefreshPending = false;
    QVariantMap m_lastPlayer; // the player properties last announced
    mutable std::unique_ptr<QTemporaryDir> m_pArtDir;
};

} // namespace didira
