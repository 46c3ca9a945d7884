#pragma once
// Hosting of controls by class identifier: a control class registers a
// factory under its class id, and a dialog template names the class id and
// the control's persisted state.

#include "control/ControlSite.h"
#include "control/Dispatch.h"
#include "control/PlayerStates.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <span>

namespace didira {

// A hosted control: a (possibly invisible) child widget answering late-bound
// calls. Owned by its Qt parent, the dialog.
class OleControl : public QWidget, public IDispatchTarget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // The host's site; null until the host sets it (reports then go nowhere).
    // The site must outlive the control or be cleared first.
    void SetSite(IControlSite* site) { m_site = site; }
    IControlSite* Site() const { return m_site; }

    // What the system around the player tells it; a control without a
    // stream ignores it.
    // The system is about to sleep: close the stream cleanly (no error, no
    // report) and keep it for Resume.
    virtual void Suspend() {}
    // The system woke up: reconnect to what Suspend closed, at the live edge.
    virtual void Resume() {}
    // Whether the system has a network connection; true again (or once more,
    // for a better connection) lets a waiting reconnection try at once.
    virtual void SetNetworkAvailable(bool available) { Q_UNUSED(available); }

    // Pause and moves within what the control keeps of the live station it
    // plays; each true when done (or so already), false (nothing done) where
    // it cannot: nothing playing, nothing kept. Pause holds what is heard
    // while reception goes on (play state Paused); Unpause goes on from there.
    virtual bool Pause() { return false; }
    virtual bool Unpause() { return false; }
    // Moves what is heard by ms (back when negative), or to ms from the
    // oldest audio kept; past the newest, live.
    virtual bool SeekBy(qint64 ms) {
        Q_UNUSED(ms);
        return false;
    }
    virtual bool SeekTo(qint64 ms) {
        Q_UNUSED(ms);
        return false;
    }
    // The newest audio, playing (also when paused).
    virtual bool GoLive() { return false; }
    // Whether Pause and the moves can work now.
    virtual bool CanSeek() const { return false; }
    // Of what is heard, from the oldest audio kept; how far behind the newest.
    virtual qint64 PositionMs() const { return 0; }
    virtual qint64 BehindLiveMs() const { return 0; }
    // Why nothing of the station is kept although it plays (the cache folder
    // refused, the disk failed); empty when there is no such reason.
    virtual QString LiveProblem() const { return {}; }

    // Recording what the control keeps of the live station, as received,
    // one file per title named after station. Each false (nothing done) where
    // nothing of a live station is kept. reply comes later, on the UI thread:
    // empty once the recording runs or the files are written, else why not
    // (also signalled as RecordingFailed).
    using RecordingReply = std::function<void(const QString& error)>;
    virtual bool StartRecording(const QString& station, RecordingReply reply) {
        Q_UNUSED(station);
        Q_UNUSED(reply);
        return false;
    }
    // Ends the recording once what was received is written; false when none runs.
    virtual bool StopRecording() { return false; }
    virtual bool IsRecording() const { return false; }
    // Writes the newest ms of what is kept the same way. reply as above,
    // with the files written and how much of the station they hold (by
    // arrival time: less than ms when less was kept).
    struct SavedAudio {
        QStringList files;
        qint64 ms = 0;
    };
    using SaveReply = std::function<void(const QString& error, const SavedAudio& saved)>;
    virtual bool SaveLast(const QString& station, qint64 ms, SaveReply reply) {
        Q_UNUSED(station);
        Q_UNUSED(ms);
        Q_UNUSED(reply);
        return false;
    }

signals:
    // The title the stream announces changed; empty when there is none any
    // more (after Stop, Cancel, a new Open or the end of the stream).
    void TitleChanged(const QString& title);
    // The station's own name as its server announces it changed; cleared
    // as the title is.
    void StreamNameChanged(const QString& name);
    // A stream that had played was lost and is being reconnected (true, once
    // per outage), or the outage is over (false).
    void Interrupted(bool interrupted);
    // The play or open state changed (emitted once per change, as it
    // happens, so that watchers need not poll).
    void StateChanged(didira::PlayState play, didira::OpenState open);
    // What is heard jumped within the kept audio (a move, going live).
    void Moved();
    // A recording started or ended.
    void RecordingChanged(bool recording);
    // Recording or saving failed (a folder that cannot be written, a full
    // disk); a recording that fails stops, and playback goes on.
    void RecordingFailed(const QString& reason);

private:
    IControlSite* m_site = nullptr;
};

struct ControlCreation {
    OleControl* control = nullptr; // owned by the parent widget; null on failure
    QString error;                 // why creation failed
};

// Creates a control as a child of parent and loads its persistent properties
// from stream (the state data after the host's prefix).
using ControlFactory =
    std::function<ControlCreation(QWidget* parent, std::span<const std::byte> stream)>;

class ControlHost {
public:
    static void RegisterClass(const QString& clsid, ControlFactory factory);
    static void UnregisterClass(const QString& clsid);

    // Creates the control of class clsid from a template's init data: a
    // 32-bit little-endian count of wide characters to take off the front,
    // those characters, then the control's persisted stream. Malformed data
    // or an unknown class give a failed creation, never a read past the end.
    static ControlCreation CreateControl(const QString& clsid, QWidget* parent,
                                         std::span<const std::byte> initData);
};

} // namespace didira
