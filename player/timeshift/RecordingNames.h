#pragma once
// Where recordings go and what their files are called: the music folder
// (as xdg-user-dirs names it), text made fit for a file name, and each
// file's name, "Station - Title.ext" ("Station - <date time>.ext" without a
// title), a name taken followed by " (2)" and on to " (999)", then by the
// time the file starts (and a number when that is taken too).

#include <QString>

namespace didira {

// $XDG_MUSIC_DIR/Didira, XDG_MUSIC_DIR read as xdg-user-dirs does (from
// $XDG_CONFIG_HOME/user-dirs.dirs, else the environment); else
// ~/Music/Didira. Reads a file: not on the UI thread.
QString DefaultRecordingFolder();
// Makes *folder (empty: the default, which *folder becomes); empty, or why
// it cannot be written to.
QString MakeRecordingFolder(QString* folder);

// text fit for a file name: '/', '\', ':', '*', '?', '"', '<', '>', '|'
// and control characters made '_', spaces trimmed, at most maxBytes of
// UTF-8 (cut between characters).
QString SafeFileName(const QString& text, int maxBytes = 120);

// The names a file of station's, starting at wallMs (ms since the epoch)
// with title (empty: none), may take, best first: attempt 1 to kAttempts.
class RecordingFileNames {
public:
    static constexpr int kAttempts = 2000;
    RecordingFileNames(const QString& station, QString title, qint64 wallMs, const char* ext);
    QString Name(int attempt) const;

private:
    QString m_base;
    QString m_when;
    const char* m_ext;
};

} // namespace didira
