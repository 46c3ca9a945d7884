#include "app/MprisService.h"

#include "app/BusNames.h"
#include "app/LiveActions.h"
#include "ui/DlgRemote.h"
#include "ui/NowPlaying.h"
#include "ui/VavarozDlg.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QFileInfo>
#include <QMetaProperty>
#include <QUrl>

namespace didira {

namespace {

const QStringList kUriSchemes = {QStringLiteral("http"), QStringLiteral("https"),
                                 QStringLiteral("rtsp"), QStringLiteral("file")};
// Streams and the playlists (metafiles) that name them.
const QStringList kMimeTypes = {
    QStringLiteral("audio/mpeg"),      QStringLiteral("audio/aac"),
    QStringLiteral("audio/aacp"),      QStringLiteral("audio/ogg"),
    QStringLiteral("application/ogg"), QStringLiteral("audio/opus"),
    QStringLiteral("audio/flac"),      QStringLiteral("audio/x-ms-wma"),
    QStringLiteral("audio/x-mpegurl"), QStringLiteral("application/vnd.apple.mpegurl"),
    QStringLiteral("audio/x-scpls"),   QStringLiteral("video/x-ms-asf"),
    QStringLiteral("audio/x-ms-wax"),  QStringLiteral("application/x-mpegurl")};

constexpr char kNoTrack[] = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

QString StatusText(CNowPlaying::Status status) {
    switch (status) {
    case CNowPlaying::Status::Playing:
        return QStringLiteral("Playing");
    case CNowPlaying::Status::Paused:
        return QStringLiteral("Paused");
    case CNowPlaying::Status::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

// "Artist - Title" as the two parts; false unless both are there.
bool SplitArtist(const QString& text, QString& artist, QString& title) {
    const qsizetype sep = text.indexOf(QLatin1String(" - "));
    if (sep <= 0)
        return false;
    artist = text.left(sep).trimmed();
    title = text.mid(sep + 3).trimmed();
    return !artist.isEmpty() && !title.isEmpty();
}

class MprisRootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit MprisRootAdaptor(CMprisService* service)
        : QDBusAbstractAdaptor(service), m_service(service) {}
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Didira"); }
    QString DesktopEntry() const { return QString::fromLatin1(kDesktopEntry); }
    QStringList SupportedUriSchemes() const { return kUriSchemes; }
    QStringList SupportedMimeTypes() const { return kMimeTypes; }

public slots:
    void Raise() {
        if (CVavarozDlg* dlg = m_service->Dialog())
            remote::Raise(*dlg);
    }
    void Quit() {
        // After the reply: ending the dialog may end the process.
        QMetaObject::invokeMethod(
            m_service,
            [s = m_service] {
                if (CVavarozDlg* dlg = s->Dialog())
                    remote::Quit(*dlg);
            },
            Qt::QueuedConnection);
    }

private:
    CMprisService* m_service;
};

class MprisPlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(bool CanGoNext READ CanStep)
    Q_PROPERTY(bool CanGoPrevious READ CanStep)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPlay)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)
public:
    explicit MprisPlayerAdaptor(CMprisService* service)
        : QDBusAbstractAdaptor(service), m_service(service) {
        // Every move is announced, however it was asked for (here, the tray,
        // Didira's own interface).
        if (const CVavarozDlg* dlg = service->Dialog())
            if (OleControl* control = remote::PlayerControl(*dlg))
                connect(control, &OleControl::Moved, this, [this] { emit Seeked(Position()); });
    }
    QString PlaybackStatus() const {
        return StatusText(
            Ask([](const CVavarozDlg& d) { return remote::NowPlaying(d).PlaybackStatus(); },
                CNowPlaying::Status::Stopped));
    }
    double Rate() const { return 1.0; }
    void SetRate(double) {} // a live stream plays at its own rate
    QVariantMap Metadata() const { return m_service->Metadata(); }
    double Volume() const { return Ask(&remote::Volume, 1.0); }
    void SetVolume(double volume) {
        Do([volume](CVavarozDlg& dlg) { remote::SetVolume(dlg, volume); });
    }
    // Within the live buffer, in microseconds.
    qlonglong Position() const { return Ask(&live::PositionMs, qint64{0}) * 1000; }
    bool CanStep() const { return Ask(&remote::CanStep, false); }
    bool CanPlay() const { return Ask(&remote::CanPlay, false); }
    bool CanSeek() const { return Ask(&live::CanSeek, false); }
    bool CanControl() const { return true; }

public slots:
    void Next() {
        Do([](CVavarozDlg& dlg) { remote::Step(dlg, +1); });
    }
    void Previous() {
        Do([](CVavarozDlg& dlg) { remote::Step(dlg, -1); });
    }
    // Pausing holds the live buffer; a station that keeps none stops, as
    // "Cancel" does. Play goes on from a pause.
    void Pause() {
        Do([](CVavarozDlg& dlg) {
            if (!live::CanSeek(dlg))
                remote::Stop(dlg);
            else
                live::Pause(dlg);
        });
    }
    void PlayPause() {
        Do([this](CVavarozDlg& dlg) {
            if (PlaybackStatus() == QLatin1String("Paused"))
                live::Resume(dlg);
            else if (PlaybackStatus() != QLatin1String("Playing") || !live::Pause(dlg))
                remote::PlayPause(dlg);
        });
    }
    void Stop() { Do(&remote::Stop); }
    void Play() {
        Do([](CVavarozDlg& dlg) { live::Resume(dlg) || (remote::Play(dlg), true); });
    }
    void Seek(qlonglong offset) {
        Do([&](CVavarozDlg& dlg) { live::SeekBy(dlg, offset / 1000); });
    }
    void SetPosition(const QDBusObjectPath&, qlonglong position) {
        Do([&](CVavarozDlg& dlg) {
            if (position >= 0)
                live::SeekTo(dlg, position / 1000);
        });
    }
    void OpenUri(const QString& uri) {
        const QUrl url(uri);
        if (!url.isValid() || !kUriSchemes.contains(url.scheme().toLower())) {
            m_service->RefuseCall(QStringLiteral("Didira cannot open this URI: %1").arg(uri));
            return;
        }
        Do([&uri](CVavarozDlg& dlg) { remote::OpenUri(dlg, uri); });
    }

signals:
    void Seeked(qlonglong position);

private:
    // What question answers about the dialog; fallback once it is gone.
    template <typename F, typename R> R Ask(F&& question, R fallback) const {
        const CVavarozDlg* dlg = m_service->Dialog();
        return dlg ? R(question(*dlg)) : fallback;
    }
    template <typename F> void Do(F&& command) {
        if (CVavarozDlg* dlg = m_service->Dialog())
            command(*dlg);
    }
    CMprisService* m_service;
};

} // namespace

CMprisService::CMprisService(CVavarozDlg& dlg, const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_pDlg(&dlg), m_bus(bus) {
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);

    // Everything a property is made of reports its changes.
    const CNowPlaying* np = &remote::NowPlaying(dlg);
    connect(np, &CNowPlaying::stationChanged, this, &CMprisService::ScheduleRefresh);
    connect(np, &CNowPlaying::titleChanged, this, &CMprisService::ScheduleRefresh);
    connect(np, &CNowPlaying::streamNameChanged, this, &CMprisService::ScheduleRefresh);
    connect(np, &CNowPlaying::statusChanged, this, &CMprisService::ScheduleRefresh);
    remote::WatchControls(dlg, this, [this] { ScheduleRefresh(); });
    if (OleControl* control = remote::PlayerControl(dlg))
        connect(control, &OleControl::Moved, this, &CMprisService::ScheduleRefresh);
    m_lastPlayer = PlayerProperties();
    m_lastPlayer.remove(QStringLiteral("Position"));
}

CMprisService::~CMprisService() {
    if (m_bRegistered)
        m_bus.unregisterObject(QString::fromLatin1(kMprisPath));
    if (!m_strName.isEmpty())
        m_bus.unregisterService(m_strName);
}

void CMprisService::RefuseCall(const QString& message) {
    if (calledFromDBus())
        sendErrorReply(QDBusError::NotSupported, message);
}

CVavarozDlg* CMprisService::Dialog() const {
    return m_pDlg;
}

bool CMprisService::Register() {
    if (!m_bus.isConnected())
        return false;
    m_bRegistered = m_bus.registerObject(QString::fromLatin1(kMprisPath), this,
                                         QDBusConnection::ExportAdaptors);
    if (m_bRegistered)
        RequestName(QString::fromLatin1(kMprisName), true);
    return m_bRegistered;
}

void CMprisService::RequestName(const QString& name, bool fallBack) {
    RequestBusName(m_bus, name, this, [this, name, fallBack](bool owned) {
        if (owned)
            m_strName = name;
        else if (fallBack) // another player holds the name: this process is a further instance
            RequestName(name +
                            QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid()),
                        false);
    });
}

QVariantMap CMprisService::PlayerProperties() const {
    QVariantMap props;
    const auto* player = findChild<MprisPlayerAdaptor*>();
    const QMetaObject* meta = player->metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        props.insert(QString::fromLatin1(meta->property(i).name()), meta->property(i).read(player));
    return props;
}

QVariantMap CMprisService::Metadata() const {
    QVariantMap meta;
    const CNowPlaying* np = m_pDlg ? &remote::NowPlaying(*m_pDlg) : nullptr;
    if (!np || np->OpenCount() == 0) {
        meta.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kNoTrack))));
        return meta;
    }
    // Each opening of a station is a track of its own.
    meta.insert(QStringLiteral("mpris:trackid"),
                QVariant::fromValue(QDBusObjectPath(
                    QStringLiteral("/org/didira/Didira/Track/%1").arg(np->OpenCount()))));
    QString artist;
    QString title;
    if (SplitArtist(np->Title(), artist, title))
        meta.insert(QStringLiteral("xesam:artist"), QStringList{artist});
    else
        title = np->Title();
    if (title.isEmpty())
        title = np->DisplayName();
    meta.insert(QStringLiteral("xesam:title"), title);
    // The station: the listener's name for it, else the one it announces.
    const QString station = np->StationName().isEmpty() ? np->StreamName() : np->StationName();
    if (!station.isEmpty())
        meta.insert(QStringLiteral("xesam:album"), station);
    if (!np->StreamName().isEmpty())
        meta.insert(QStringLiteral("didira:streamName"), np->StreamName());
    meta.insert(QStringLiteral("xesam:url"), np->StationUrl());
    // Behind the live edge after a pause or a move back, in microseconds.
    if (const qint64 behind = live::BehindLiveMs(*m_pDlg); behind > 0)
        meta.insert(QStringLiteral("didira:behindLive"), behind * 1000);
    const QString art = ArtworkFile(np->FlagImage());
    if (!art.isEmpty())
        meta.insert(QStringLiteral("mpris:artUrl"), QUrl::fromLocalFile(art).toString());
    return meta;
}

QString CMprisService::ArtworkFile(int flag) const {
    if (!m_pDlg || flag < 0)
        return QString();
    const QPixmap image = remote::FlagImage(*m_pDlg, flag);
    if (image.isNull())
        return QString();
    if (!m_pArtDir) {
        // The runtime directory is the user's own and private; else a private
        // temporary directory. Removed with this object.
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        const QFileInfo info(runtime);
        m_pArtDir =
            runtime.isEmpty() || !info.isDir() || !info.isWritable()
                ? std::make_unique<QTemporaryDir>()
                : std::make_unique<QTemporaryDir>(runtime + QStringLiteral("/didira-XXXXXX"));
        if (!m_pArtDir->isValid()) {
            m_pArtDir.reset();
            return QString();
        }
    }
    const QString path = m_pArtDir->filePath(QStringLiteral("flag%1.png").arg(flag));
    if (QFileInfo::exists(path))
        return path;
    // Drawn larger without smoothing, so the small image stays crisp.
    const QPixmap big = image.scaled(image.size() * 8, Qt::KeepAspectRatio, Qt::FastTransformation);
    const QString part = path + QStringLiteral(".part");
    if (!big.save(part, "PNG") || !QFile::rename(part, path)) {
        QFile::remove(part);
        return QString();
    }
    return path;
}

void CMprisService::ScheduleRefresh() {
    if (m_bRefreshPending)
        return;
    m_bRefreshPending = true;
    QMetaObject::invokeMethod(this, &CMprisService::Refresh, Qt::QueuedConnection);
}

void CMprisService::Refresh() {
    m_bRefreshPending = false;
    QVariantMap now = PlayerProperties();
    now.remove(QStringLiteral("Position")); // read on demand, never announced
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_lastPlayer.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_lastPlayer = now;
    if (changed.isEmpty() || !m_bRegistered)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kMprisPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal.setArguments({QString::fromLatin1(kMprisPlayerInterface), changed, QStringList()});
    m_bus.send(signal);
}

} // namespace didira

#include "MprisService.moc"
