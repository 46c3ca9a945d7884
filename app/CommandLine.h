#pragma once
// The program's command line as the program itself reads it: whether it asks
// for the usage or the version (answered before anything of the desktop is
// needed), whether the program is to start in its data folder, and which
// arguments it does not know. Unknown arguments are reported and otherwise
// ignored, so any command line still starts the player. The server-mode
// switches are taken by the automation step (RunAutomationStep); they are
// known here only so as not to be reported.

#include <QString>
#include <QStringList>

namespace didira {

class CommandLine {
public:
    enum class Action { Run, ShowHelp, ShowVersion };

    // args: the arguments after the program name.
    explicit CommandLine(const QStringList& args);

    // The first of --help and --version given decides; Run without either.
    Action Requested() const { return m_action; }
    // "--data-dir": start in UserDataDir() instead of the current directory.
    bool InDataDir() const { return m_inDataDir; }
    // The arguments none of the program's switches match, in their order.
    const QStringList& Unknown() const { return m_unknown; }

    // The usage in Japanese and English; program is the name it was run by.
    static QString HelpText(const QString& program);

private:
    Action m_action = Action::Run;
    bool m_inDataDir = false;
    QStringList m_unknown;
};

// Removes every "-<word>" and "/<word>" argument (case-sensitive, the whole
// argument) from cmdLine; true when there was one.
bool TakeSwitch(QStringList& cmdLine, const QString& word);

// $XDG_DATA_HOME/didira, or ~/.local/share/didira when XDG_DATA_HOME is unset
// or not an absolute path: where the menu entry keeps the catalogue.
QString UserDataDir();

// Makes UserDataDir() (and its parents) when missing and makes it the current
// directory. False, with the reason in *error, when either fails; the current
// directory is then unchanged.
bool EnterUserDataDir(QString* error);

} // namespace didira
