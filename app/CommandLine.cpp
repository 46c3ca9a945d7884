#include "app/CommandLine.h"

#include <QDir>

namespace didira {

namespace {

const QString kHelp = QStringLiteral("--help");
const QString kHelpShort = QStringLiteral("-h");
const QString kVersion = QStringLiteral("--version");
const QString kDataDir = QStringLiteral("--data-dir");

// Switches read elsewhere: notifications (NotificationsWanted), idle sleep
// (IdleInhibitWanted) and server mode (RunAutomationStep), which takes
// exactly these spellings.
bool ReadElsewhere(const QString& arg) {
    static const QStringList known = {
        QStringLiteral("--no-notifications"), QStringLiteral("--no-idle-inhibit"),
        QStringLiteral("-Embedding"),         QStringLiteral("/Embedding"),
        QStringLiteral("-Automation"),        QStringLiteral("/Automation"),
    };
    return known.contains(arg);
}

} // namespace

CommandLine::CommandLine(const QStringList& args) {
    for (const QString& arg : args) {
        if (arg == kHelp || arg == kHelpShort) {
            if (m_action == Action::Run)
                m_action = Action::ShowHelp;
        } else if (arg == kVersion) {
            if (m_action == Action::Run)
                m_action = Action::ShowVersion;
        } else if (arg == kDataDir) {
            m_inDataDir = true;
        } else if (!ReadElsewhere(arg)) {
            m_unknown.append(arg);
        }
    }
}

QString CommandLine::HelpText(const QString& program) {
    return QStringLiteral(
               "使い方: %1 [オプション]\n"
               "Usage: %1 [OPTION]...\n"
               "\n"
               "インターネットラジオプレーヤー。放送局の一覧 radioname.csv を現在のディレクトリ\n"
               "から読みます (なければ組み込みの放送局)。読むたびに radioname.csv.bak "
               "を書きます。\n"
               "Internet radio player. Reads the station list radioname.csv of the current\n"
               "directory (the built-in stations without one) and writes radioname.csv.bak\n"
               "beside it at each read.\n"
               "\n"
               "  --data-dir          $XDG_DATA_HOME/didira (未設定なら ~/.local/share/didira、\n"
               "                      なければ作成) で起動し、そこの radioname.csv を読む\n"
               "                      start in $XDG_DATA_HOME/didira (~/.local/share/didira\n"
               "                      when unset; created when missing) and read radioname.csv\n"
               "                      there, as the menu entry does\n"
               "  --no-notifications  曲名のデスクトップ通知を出さない\n"
               "                      no desktop notifications of the titles\n"
               "  --no-idle-inhibit   再生中もアイドル時のスリープを妨げない\n"
               "                      playback does not keep the machine from idle sleep\n"
               "  -Embedding, -Automation, /Embedding, /Automation\n"
               "                      サーバーモード: セッションバスで Vavaroz.Application を提供\n"
               "                      server mode: serve Vavaroz.Application on the session bus\n"
               "  -h, --help          この説明を表示して終了 / show this help and exit\n"
               "  --version           バージョンを表示して終了 / show the version and exit\n"
               "\n"
               "環境変数 / Environment:\n"
               "  DIDIRA_AUDIO_SINK        音声の出力先 (gst-launch-1.0 形式の GStreamer 要素)\n"
               "                           the GStreamer sink, as a gst-launch-1.0 description\n"
               "  DIDIRA_LIVE_BUFFER_MINUTES\n"
               "                           一時停止と巻き戻しのために保つ分数 (既定 30、0 "
               "で保たない)\n"
               "                           minutes kept for pause and going back (30; 0: none)\n"
               "  DIDIRA_NO_NOTIFICATIONS  0 以外で通知を出さない / not 0: no notifications\n"
               "  DIDIRA_NO_IDLE_INHIBIT   0 以外で --no-idle-inhibit と同じ / not 0: as "
               "--no-idle-inhibit\n"
               "  XDG_DATA_HOME            --data-dir のフォルダと dbus-1/services の起動ファイル\n"
               "                           the --data-dir folder and the bus activation file\n"
               "                           in dbus-1/services\n"
               "\n"
               "詳しくは / See: man didira\n")
        .arg(program);
}

bool TakeSwitch(QStringList& cmdLine, const QString& word) {
    const QString dash = QLatin1Char('-') + word;
    const QString slash = QLatin1Char('/') + word;
    const qsizetype removed =
        cmdLine.removeIf([&](const QString& arg) { return arg == dash || arg == slash; });
    return removed > 0;
}

QString UserDataDir() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/didira");
}

bool EnterUserDataDir(QString* error) {
    const QString dir = UserDataDir();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    if (!QDir::setCurrent(dir)) {
        *error = QStringLiteral("cannot enter %1").arg(dir);
        return false;
    }
    return true;
}

} // namespace didira
