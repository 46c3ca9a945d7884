#pragma once
// What the dialog is playing now: the station last opened, the title and the
// name the stream announces, and whether it plays. The dialog keeps it up to
// date from its handlers and the player's reports; the desktop's media
// controls and notifications read it.

#include <QObject>
#include <QString>

class QWidget;

namespace didira {

class CNowPlaying final : public QObject {
    Q_OBJECT
public:
    enum class Status { Stopped, Playing, Paused };

    explicit CNowPlaying(QObject* parent = nullptr) : QObject(parent) {}
    Q_DISABLE_COPY_MOVE(CNowPlaying)

    // A new station is being opened: it becomes the current one with no
    // title nor stream name, and counts as playing until the player says otherwise.
    void Open(const QString& name, const QString& url, int flagImage);
    // Playback was stopped by the user: no title nor stream name, stopped.
    void Stop();
    // The title the stream announces; an unchanged title changes nothing.
    // Called from the player's reports.
    void SetTitle(const QString& title);
    // The station's own name as its stream announces it; an unchanged name
    // changes nothing. Called from the player's reports.
    void SetStreamName(const QString& name);
    // The player's play and open states as it reports them (player state
    // numbering).
    // A station that stops by itself loses its title and stream name.
    void SetPlayerState(long playState, long openState);
    // The stream that played was lost and is being reconnected; false when
    // it plays again or was ended. Called from the player's reports.
    void SetInterrupted(bool interrupted);

    QString StationName() const { return m_strName; }
    QString StationUrl() const { return m_strUrl; }
    // The station's flag image in the station list's image list; -1 when no
    // station was opened.
    int FlagImage() const { return m_nFlag; }
    QString Title() const { return m_strTitle; }
    QString StreamName() const { return m_strStreamName; }
    // The station as a listener knows it: the name in the catalogue (the
    // listener's own list), else the name the stream announces, else the URL.
    QString DisplayName() const;
    Status PlaybackStatus() const { return m_status; }
    // Whether the player reports sound being played (its Playing state), not
    // only on its way to sound.
    bool IsHeard() const { return m_bHeard; }
    bool IsInterrupted() const { return m_bInterrupted; }
    // Grows with every Open, so each opening is a track of its own.
    quint64 OpenCount() const { return m_nOpenCount; }

    // Shows the title as field's tooltip and accessible description, now and
    // whenever it changes.
    void ShowTitleOn(QWidget* field);

signals:
    void stationChanged();
    void titleChanged();
    void streamNameChanged();
    void statusChanged();
    void heardChanged();
    void interruptedChanged();

private:
    void SetStatus(Status status);
    void SetHeard(bool heard);

    QString m_strName;
    QString m_strUrl;
    int m_nFlag = -1;
    QString m_strTitle;
    QString m_strStreamName;
    Status m_status = Status::Stopped;
    bool m_bInterrupted = false;
    bool m_bHeard = false;
    quint64 m_nOpenCount = 0;
};

} // namespace didira
