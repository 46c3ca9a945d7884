// The main dialog's window and housekeeping: the message map and its routing,
// the modal run and its end, the window menu, painting, drag and drop.
#include "ui/VavarozDlg.h"

#include "res/Resources.h"
#include "ui/AboutDialog.h"
#include "ui/AutoProxyLink.h"
#include "ui/MessageBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QWindow>

namespace didira {

namespace {

// System commands of the window menu (platform numbering).
constexpr unsigned SC_MOVE = 0xF010;
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;
constexpr unsigned SC_RESTORE = 0xF120;
constexpr unsigned IDM_ABOUTBOX = 0x0010;

} // namespace

// The message map, in the order of its entries.
const CVavarozDlg::MessageMapEntry CVavarozDlg::kMessageMap[] = {
    {Msg::SysCommand, 0, [](CVavarozDlg& d, MsgArgs& a) { d.OnSysCommand(a.id, 0); }},
    {Msg::Paint, 0, [](CVavarozDlg& d, MsgArgs&) { d.OnPaint(); }},
    {Msg::Close, 0, [](CVavarozDlg& d, MsgArgs&) { d.OnClose(); }},
    {Msg::Command, IDC_RECEIVE, [](CVavarozDlg& d, MsgArgs&) { d.OnReceiveButton(); }},
    {Msg::Command, IDC_CANCEL, [](CVavarozDlg& d, MsgArgs&) { d.OnCancelButton(); }},
    {Msg::Timer, 0, [](CVavarozDlg& d, MsgArgs& a) { d.OnTimer(a.id); }},
    {Msg::HScroll, 0, [](CVavarozDlg& d, MsgArgs& a) { d.OnHScroll(a.code, a.pos, a.scrollBar); }},
    {Msg::Notify, IDC_STATIONLIST,
     [](CVavarozDlg& d, MsgArgs& a) { d.OnClickStationList(a.result); }},
    {Msg::Create, 0,
     [](CVavarozDlg& d, MsgArgs& a) {
         const int r = d.OnCreate();
         if (a.result)
             *a.result = r;
     }},
    {Msg::Command, IDC_IMPORT, [](CVavarozDlg& d, MsgArgs&) { d.OnImportButton(); }},
    {Msg::LButtonDblClk, 0, [](CVavarozDlg& d, MsgArgs& a) { d.OnLButtonDblClk(0, a.point); }},
};

CVavarozDlg::CVavarozDlg(QWidget* parent) : QDialog(parent) {
    m_hIcon = LoadIconResource(IDR_MAINFRAME);
    m_strCatalogFile = QStringLiteral("radioname.csv");
    // Loaded before the window exists: its messages come before the dialog.
    LoadCatalog();
}

CVavarozDlg::~CVavarozDlg() {
    // A proxy that outlives the dialog must no longer refer to it.
    if (m_pAutoProxy)
        m_pAutoProxy->m_pDialog = nullptr;
}

bool CVavarozDlg::RouteMessage(Msg msg, MsgArgs args) {
    for (const MessageMapEntry& entry : kMessageMap) {
        if (entry.msg != msg)
            continue;
        if ((msg == Msg::Command || msg == Msg::Notify) && entry.id != static_cast<int>(args.id))
            continue;
        SafeDispatch([&] { entry.handler(*this, args); });
        return true;
    }
    return false;
}

void CVavarozDlg::SafeDispatch(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const DispatchError& e) {
        const QString text = e.description().isEmpty() ? QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの内部ｴﾗｰです。")
                                                       : e.description();
        ShowMessageBox(this, text, QString(), MbIcon::Stop);
    } catch (const std::exception&) {
        ShowMessageBox(this, QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの内部ｴﾗｰです。"), QString(), MbIcon::Stop);
    }
}

QWidget* CVavarozDlg::GetDlgItem(int id) const {
    if (id == IDC_MEDIAPLAYER)
        return m_player.GetWindow();
    return findChild<QWidget*>(QStringLiteral("IDC_%1").arg(id), Qt::FindDirectChildrenOnly);
}

int CVavarozDlg::DoModal() {
    if (!Create()) {
        m_nModalResult = -1;
        return -1;
    }
    m_nModalResult = 0;
    m_bEnded = false;
    show();
    if (!m_bEnded) {
        QEventLoop loop;
        m_pLoop = &loop;
        loop.exec(QEventLoop::DialogExec);
        m_pLoop = nullptr;
    }
    m_timer.stop();
    return m_nModalResult;
}

void CVavarozDlg::EndDialog(int result) {
    m_nModalResult = result;
    m_bEnded = true;
    m_timer.stop();
    QDialog::setVisible(false);
    if (m_pLoop)
        m_pLoop->exit(result);
}

void CVavarozDlg::DestroyWindow() {
    EndDialog(IDCANCEL);
}

bool CVavarozDlg::CanExit() {
    // While an automation client holds the object, ending only hides.
    if (m_pAutoProxy) {
        QDialog::setVisible(false);
        return false;
    }
    return true;
}

void CVavarozDlg::OnClose() {
    if (CanExit())
        OnCancel(); // the close request becomes the cancel command
}

void CVavarozDlg::OnOK() {
    if (CanExit()) {
        UpdateData(true);
        EndDialog(IDOK);
    }
}

void CVavarozDlg::OnCancel() {
    if (CanExit())
        EndDialog(IDCANCEL);
}

void CVavarozDlg::accept() {
    SafeDispatch([this] { OnOK(); });
}

void CVavarozDlg::reject() {
    SafeDispatch([this] { OnCancel(); });
}

void CVavarozDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    RouteMessage(Msg::Close);
}

void CVavarozDlg::OnSysCommand(unsigned nID, long) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDialog about(this);
        about.DoModal();
    } else {
        DefaultSysCommand(nID);
    }
}

void CVavarozDlg::DefaultSysCommand(unsigned nID) {
    switch (nID & 0xFFF0) {
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_RESTORE:
        showNormal();
        break;
    case SC_MOVE:
        if (QWindow* window = windowHandle())
            window->startSystemMove();
        break;
    case SC_CLOSE:
        RouteMessage(Msg::Close);
        break;
    default:
        break;
    }
}

void CVavarozDlg::BuildSystemMenu() {
    // Window commands, then the about item.
    m_pSysMenu = new QMenu(this);
    const auto addCommand = [this](const QString& text, unsigned id) {
        QAction* action = m_pSysMenu->addAction(text);
        action->setData(id);
        return action;
    };
    m_pRestoreAction = addCommand(QStringLiteral("元のサイズに戻す(&R)"), SC_RESTORE);
    addCommand(QStringLiteral("移動(&M)"), SC_MOVE);
    m_pMinimizeAction = addCommand(QStringLiteral("最小化(&N)"), SC_MINIMIZE);
    addCommand(QStringLiteral("閉じる(&C)\tAlt+F4"), SC_CLOSE);
    const QString about = LoadResourceString(IDS_ABOUTBOX);
    if (!about.isEmpty()) {
        m_pSysMenu->addSeparator();
        addCommand(about, IDM_ABOUTBOX);
    }
    connect(m_pSysMenu, &QMenu::triggered, this, [this](QAction* action) {
        RouteMessage(Msg::SysCommand, MsgArgs{.id = action->data().toUInt()});
    });
}

void CVavarozDlg::ShowSystemMenu(const QPoint& globalPos) {
    if (!m_pSysMenu)
        return;
    m_pRestoreAction->setEnabled(isMinimized() || isMaximized());
    m_pMinimizeAction->setEnabled(!isMinimized());
    m_pSysMenu->popup(globalPos);
}

void CVavarozDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The dialog's free area offers the window menu.
    ShowSystemMenu(event->globalPos());
    event->accept();
}

void CVavarozDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::AltModifier) {
        ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
        return;
    }
    QDialog::keyPressEvent(event);
}

void CVavarozDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    // Only double clicks on the dialog itself arrive here: controls take
    // their own, and passive labels let them through as the platform does.
    if (event->button() == Qt::LeftButton)
        RouteMessage(Msg::LButtonDblClk, MsgArgs{.point = event->position().toPoint()});
}

void CVavarozDlg::OnLButtonDblClk(unsigned, QPoint) {
    CAboutDialog about(this);
    about.DoModal();
}

QPoint CVavarozDlg::MinimizedIconPosition(QSize client, QSize icon) {
    // Integer division truncating toward zero, as the platform computes it.
    return QPoint((client.width() - icon.width() + 1) / 2,
                  (client.height() - icon.height() + 1) / 2);
}

void CVavarozDlg::paintEvent(QPaintEvent* event) {
    m_pPaintEvent = event;
    RouteMessage(Msg::Paint);
    m_pPaintEvent = nullptr;
}

void CVavarozDlg::OnPaint() {
    if (isMinimized()) {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        const int size = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
        const QSize iconSize(size, size);
        painter.drawPixmap(MinimizedIconPosition(rect().size(), iconSize),
                           m_hIcon.pixmap(iconSize));
    } else if (m_pPaintEvent) {
        QDialog::paintEvent(m_pPaintEvent);
    }
}

void CVavarozDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_timer.timerId()) {
        RouteMessage(Msg::Timer, MsgArgs{.id = 0});
        return;
    }
    QDialog::timerEvent(event);
}

void CVavarozDlg::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* mime = event->mimeData();
    if (mime->hasUrls() && !mime->urls().isEmpty() && mime->urls().first().isLocalFile())
        event->acceptProposedAction();
}

void CVavarozDlg::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    const QString path = urls.first().toLocalFile();
    // Let the drag source finish before the import's message boxes appear.
    QMetaObject::invokeMethod(
        this, [this, path] { SafeDispatch([this, path] { ImportCatalog(path); }); },
        Qt::QueuedConnection);
}

} // namespace didira
