#pragma once
// The main dialog: station list, player status, volume and balance.

#include "catalogue/StationTable.h"
#include "control/MediaPlayer2.h"
#include "ui/ImageList.h"
#include "ui/NowPlaying.h"

#include <QBasicTimer>
#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>

class QAction;
class QEventLoop;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;

namespace didira {

class CStationListCtrl;
class CDlgAutoProxyLink;
namespace remote {
struct Access;
}
struct ControlTemplate;
struct DialogTemplate;

// Window messages that the dialog's message map routes.
enum class Msg {
    SysCommand,
    Paint,
    Close,
    Command, // a button click; the entry's id names the button
    Timer,
    HScroll,
    Notify, // NM_CLICK from a control; the entry's id names it
    Create,
    LButtonDblClk,
};

// Arguments of a routed message; which fields matter depends on the message.
struct MsgArgs {
    unsigned id = 0; // command id, timer id
    int code = 0;    // scroll code
    int pos = 0;     // scroll position
    QPoint point{};  // mouse position
    QSlider* scrollBar = nullptr;
    long* result = nullptr; // notification result slot
};

class CVavarozDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CVavarozDlg(QWidget* parent = nullptr);
    ~CVavarozDlg() override;
    Q_DISABLE_COPY_MOVE(CVavarozDlg)

    // Creates the window from template 102 (OnCreate, the controls, data
    // exchange, OnInitDialog) and runs it modally. Returns IDOK or IDCANCEL,
    // or -1 when the window or the player control cannot be created.
    int DoModal();
    // Creates the window without running it (tests, automation); false when
    // creation failed. DoModal calls it.
    bool Create();
    // Whether the window exists: false while the constructor loads the
    // catalogue, so its messages have no owner.
    bool IsWindowCreated() const { return m_bCreated; }

    // The automation object linked to this dialog; null when there is none.
    CDlgAutoProxyLink* m_pAutoProxy = nullptr;

    // ---- catalogue ----
    // Loads m_strCatalogFile into m_stationTable, with its messages. Returns
    // true when the table was (re)filled from the file or the built-in list.
    bool LoadCatalog();
    // Import of another catalogue file (button 1013, or a file dropped on the
    // window): replaces m_strCatalogFile, loads it and rebuilds the list when
    // the load succeeded.
    void ImportCatalog(const QString& path);

    // ---- station list ----
    void ResetStationList();
    void BuildStationColumns(unsigned resourceId);
    void FillStationList();

    // ---- housekeeping ----
    bool CanExit();
    // Destroys the window whatever CanExit says: ends the modal run (with
    // IDCANCEL) and hides the window. Used when the last automation client
    // of a server-mode process lets go.
    void DestroyWindow();
    // A control of the dialog by template id; null when there is none.
    QWidget* GetDlgItem(int id) const;
    // Copies the member strings into the edit fields.
    void UpdateData(bool saveAndValidate = false);
    // Centre position of an icon of iconSize in a client area of clientSize.
    static QPoint MinimizedIconPosition(QSize clientSize, QSize iconSize);

    // Sends a message through the message map, as the window system would.
    // Returns false when no entry handles it.
    bool RouteMessage(Msg msg, MsgArgs args = {});

    // The result of the last end of the modal run (IDOK, IDCANCEL, -1).
    int ModalResult() const { return m_nModalResult; }

    // ---- message handlers ----
    void OnSysCommand(unsigned nID, long lParam);
    void OnPaint();
    void OnClose();
    void OnReceiveButton();
    void OnCancelButton();
    void OnTimer(unsigned nIDEvent);
    void OnHScroll(int nSBCode, int nPos, QSlider* pScrollBar);
    void OnClickStationList(long* pResult);
    int OnCreate();
    void OnImportButton();
    void OnLButtonDblClk(unsigned nFlags, QPoint point);
    bool OnInitDialog();
    void OnOK();
    void OnCancel();

protected:
    void DoDataExchange();

    // Qt events, turned into routed messages.
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

public slots:
    void accept() override; // the OK command
    void reject() override; // Escape, close request

private:
    // ui's own functions outside the dialog's handlers (ui/DlgAccess.h).
    friend struct remote::Access;

    // ---- members, in declaration order ----
    QString m_strCatalogFile;
    StationTable m_stationTable;
    int m_nBalance = 0;
    int m_nVolume = 0;
    QString m_strCurrentName;
    QString m_strCurrentUrl;
    CImageList m_imageSmall;
    CImageList m_imageNormal;
    QPointer<QPushButton> m_btnReceive;
    QPointer<CStationListCtrl> m_listStations;
    QPointer<QSlider> m_sliderBalance;
    QPointer<QSlider> m_sliderVolume;
    CMediaPlayer2 m_player;
    QString m_strPlayState;
    QString m_strOpenState;
    QString m_strBandWidth;
    QString m_strRadioStation;
    QString m_strURL;
    QIcon m_hIcon;

    // What plays now, kept by the playback handlers and the player's
    // reports; read through ui/DlgRemote.h by what lives around the dialog.
    CNowPlaying m_nowPlaying;

    struct MessageMapEntry {
        Msg msg;
        int id; // control or command id; 0 when the message has none
        void (*handler)(CVavarozDlg&, MsgArgs&);
    };
    static const MessageMapEntry kMessageMap[];

    // Runs a handler; a dispatch error of the player is reported in a
    // stop-icon box and the dialog goes on.
    void SafeDispatch(const std::function<void()>& handler);
    void DefaultSysCommand(unsigned nID);
    void BuildSystemMenu();
    void ShowSystemMenu(const QPoint& globalPos);

    // Set-up (DlgSetup.cpp): the template's controls and the player control
    // wired to the message map; OnInitDialog's steps.
    void CreateControls(const DialogTemplate& tpl);
    // False when the player control of c cannot be created.
    bool AttachPlayer(const ControlTemplate& c, QSize base);
    void SetUpPlayer();
    void SetUpTrackbars();
    void SetUpStationList();

    // Ends the modal run with result and hides the window.
    void EndDialog(int result);

    QBasicTimer m_timer;
    bool m_bCreated = false;
    bool m_bEnded = false;
    int m_nModalResult = 0;
    QEventLoop* m_pLoop = nullptr;        // the modal run, while it runs
    QPaintEvent* m_pPaintEvent = nullptr; // the paint event being routed
    QMenu* m_pSysMenu = nullptr;          // the window menu, owned by the dialog
    QAction* m_pRestoreAction = nullptr;
    QAction* m_pMinimizeAction = nullptr;
    std::array<QLineEdit*, 5> m_edits{}; // bound by data exchange
};

// Forgets the status last shown by the timer (it lives for the whole process).
void ResetShownStatusForTesting();

} // namespace didira
