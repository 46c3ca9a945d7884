#pragma once
// The application object and its start-up.

#include "res/FrameworkTypes.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

namespace didira {

class CVavarozApp {
public:
    CVavarozApp();
    ~CVavarozApp();
    Q_DISABLE_COPY_MOVE(CVavarozApp)

    // Start-up and the modal run of the main dialog. Returns FALSE on every
    // path; ExitCode() tells a failed start-up from a normal end.
    BOOL InitInstance();
    int ExitCode() const { return m_nExitCode; }

    // The command line after the program name; server-mode switches are
    // removed from it when recognised.
    QStringList m_cmdLine;
    // The main window; set before the dialog's modal run.
    QPointer<QWidget> m_pMainWnd;
    // False while the application runs for an automation client (server
    // mode) and no user has taken control.
    bool m_bUserCtrl = true;

    // Start-up steps that tests replace to simulate failures.
    struct Platform {
        bool (*socketInit)() = nullptr; // can the process open a TCP socket
        bool (*oleInit)() = nullptr;    // the media framework
    };
    Platform m_platform;

private:
    int m_nExitCode = 0;
};

// The one application object, while it exists.
CVavarozApp* AfxGetApp();

} // namespace didira
