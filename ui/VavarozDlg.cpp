#include "ui/VavarozDlg.h"

#include "control/ControlHost.h"
#include "res/Resources.h"
#include "ui/AboutDialog.h"
#include "ui/AutoProxyLink.h"
#include "ui/ControlErrorBox.h"
#include "ui/DialogLayout.h"
#include "ui/MessageBox.h"
#include "ui/StationListCtrl.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QWindow>
#include <cstdio>

namespace didira {

namespace {

// System commands of the window menu (platform numbering).
constexpr unsigned SC_MOVE = 0xF010;
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;
constexpr unsigned SC_RESTORE = 0xF120;
constexpr unsigned IDM_ABOUTBOX = 0x0010;

MsgArgs WithId(unsigned id) {
    MsgArgs a;
    a.id = id;
    return a;
}

MsgArgs WithResult(unsigned id, long* result) {
    MsgArgs a;
    a.id = id;
    a.result = result;
    return a;
}

MsgArgs WithScroll(int code, int pos, QSlider* bar) {
    MsgArgs a;
    a.code = code;
    a.pos = pos;
    a.scrollBar = bar;
    return a;
}

MsgArgs WithPoint(QPoint point) {
    MsgArgs a;
    a.point = point;
    return a;
}

// Sets a trackbar's range and position without sending a scroll message.
void SetUpTrackbar(QSlider* slider, int min, int max, int pos, int step) {
    if (!slider)
        return;
    const QSignalBlocker block(slider);
    slider->setMinimum(min);
    slider->setMaximum(max);
    slider->setValue(pos);
    slider->setTickInterval(step);
    slider->setPageStep(step);
}

constexpr long kListFullRowSelect = 0x20;
constexpr long kListGridLines = 0x01;

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

bool CVavarozDlg::Create() {
    if (m_bCreated)
        return true;
    const DialogTemplate& tpl = GetDialogTemplate(IDD_VAVAROZ_DIALOG);
    setWindowTitle(tpl.caption);
    // The template's frame: caption, window menu with close, a minimise box
    // and no maximise box; an application window of its own (a normal
    // top-level window, so the task bar lists it), not a transient dialog.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(m_hIcon);
    setFont(DialogFont(tpl));
    const QSize base = DialogBaseUnits(font());
    setFixedSize(MapDialogRect(QRect(QPoint(0, 0), tpl.size), base).size());
    setAcceptDrops(true);

    long created = 0;
    RouteMessage(Msg::Create, WithResult(0, &created));
    if (created == -1)
        return false;

    CreateControls(tpl);
    m_nowPlaying.ShowTitleOn(GetDlgItem(IDC_RADIOSTATION));
    // The player is part of the dialog: without it the dialog does not run.
    for (const ControlTemplate& c : tpl.controls) {
        if (c.kind != ControlKind::OleControl)
            continue;
        const auto initData = std::as_bytes(std::span(c.initData.constData(), c.initData.size()));
        const ControlCreation made = ControlHost::CreateControl(c.clsid, this, initData);
        if (!made.control) {
            std::fprintf(stderr, "%s: the player control %s could not be created: %s\n",
                         qPrintable(AppName()), qPrintable(c.clsid), qPrintable(made.error));
            return false;
        }
        made.control->setObjectName(QStringLiteral("IDC_%1").arg(c.id));
        made.control->setGeometry(MapDialogRect(c.rect, base));
        made.control->SetSite(&MessageBoxControlSite());
        connect(made.control, &OleControl::TitleChanged, this,
                [this](const QString& title) { m_nowPlaying.SetTitle(title); });
        connect(made.control, &OleControl::StreamNameChanged, this,
                [this](const QString& name) { m_nowPlaying.SetStreamName(name); });
        connect(made.control, &OleControl::Interrupted, this,
                [this](bool interrupted) { m_nowPlaying.SetInterrupted(interrupted); });
        // What plays follows the player as it changes; the status fields keep
        // their one-second timer.
        connect(made.control, &OleControl::StateChanged, this,
                [this](PlayState play, OpenState open) {
                    m_nowPlaying.SetPlayerState(ToNumber(play), ToNumber(open));
                });
        m_player.Attach(made.control);
    }

    m_bCreated = true;
    SafeDispatch([this] { OnInitDialog(); });
    return true;
}

void CVavarozDlg::CreateControls(const DialogTemplate& tpl) {
    const QSize base = DialogBaseUnits(font());
    const auto controls = CreateTemplateControls(tpl, this, base);
    for (auto it = controls.cbegin(); it != controls.cend(); ++it) {
        const unsigned id = static_cast<unsigned>(it.key());
        if (auto* button = qobject_cast<QPushButton*>(it.value())) {
            connect(button, &QPushButton::clicked, this, [this, id] {
                if (id == IDOK)
                    SafeDispatch([this] { OnOK(); });
                else
                    RouteMessage(Msg::Command, WithId(id));
            });
        } else if (auto* slider = qobject_cast<QSlider*>(it.value())) {
            // Every movement of a trackbar is a scroll message, as while a
            // thumb is dragged; positions set by code are not.
            const auto scroll = [this, slider](int code) {
                RouteMessage(Msg::HScroll, WithScroll(code, slider->sliderPosition(), slider));
            };
            connect(slider, &QSlider::valueChanged, this,
                    [scroll] { scroll(5 /*TB_THUMBTRACK*/); });
            connect(slider, &QSlider::sliderReleased, this,
                    [scroll] { scroll(8 /*TB_ENDTRACK*/); });
        } else if (auto* list = qobject_cast<CStationListCtrl*>(it.value())) {
            connect(list, &CStationListCtrl::nmClick, this, [this] {
                long result = 0;
                RouteMessage(Msg::Notify, WithResult(IDC_STATIONLIST, &result));
            });
        }
    }
}

void CVavarozDlg::DoDataExchange() {
    UpdateData(false);
}

void CVavarozDlg::UpdateData(bool saveAndValidate) {
    // Controls are bound once, in the order of the template's data exchange.
    if (!m_btnReceive)
        m_btnReceive = qobject_cast<QPushButton*>(GetDlgItem(IDC_RECEIVE));
    if (!m_listStations)
        m_listStations = qobject_cast<CStationListCtrl*>(GetDlgItem(IDC_STATIONLIST));
    if (!m_sliderBalance)
        m_sliderBalance = qobject_cast<QSlider*>(GetDlgItem(IDC_BALANCE));
    if (!m_sliderVolume)
        m_sliderVolume = qobject_cast<QSlider*>(GetDlgItem(IDC_VOLUME));

    const std::array<std::pair<int, QString*>, 5> texts = {{{IDC_PLAYSTATE, &m_strPlayState},
                                                            {IDC_OPENSTATE, &m_strOpenState},
                                                            {IDC_BANDWIDTH, &m_strBandWidth},
                                                            {IDC_RADIOSTATION, &m_strRadioStation},
                                                            {IDC_URL, &m_strURL}}};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!m_edits[i])
            m_edits[i] = qobject_cast<QLineEdit*>(GetDlgItem(texts[i].first));
        QLineEdit* edit = m_edits[i];
        if (!edit)
            continue;
        if (saveAndValidate) {
            *texts[i].second = edit->text();
        } else if (edit->text() != *texts[i].second) {
            edit->setText(*texts[i].second);
            edit->setCursorPosition(0);
        }
    }
}

int CVavarozDlg::OnCreate() {
    m_imageSmall.Create(IDB_SMALL_ICONS, 16, 0, qRgb(255, 255, 255));
    m_imageSmall.SetBkColor(palette().color(QPalette::Base));
    m_imageNormal.Create(IDB_NORMAL_ICONS, 15, 0, qRgb(255, 255, 255));
    m_imageNormal.SetBkColor(palette().color(QPalette::Base));
    return 0;
}

bool CVavarozDlg::OnInitDialog() {
    // 1. Bind the controls and write the member texts.
    UpdateData(false);

    // 2. Full-row selection and grid lines.
    if (m_listStations)
        m_listStations->SetExtendedStyle(m_listStations->GetExtendedStyle() | kListFullRowSelect |
                                         kListGridLines);

    // 3.
    if (m_btnReceive)
        m_btnReceive->setEnabled(false);

    // 4. The window menu: window commands, then the about item.
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
        RouteMessage(Msg::SysCommand, WithId(action->data().toUInt()));
    });

    // 5.
    setWindowIcon(m_hIcon);

    // 6. Player set-up; a failure of the player is shown and set-up goes on.
    SafeDispatch([this] {
        m_player.SetPlayOnOpen(TRUE);
        if (m_player.GetIsError() == TRUE) {
            const long code = m_player.GetErrorCode();
            const QString description = m_player.GetErrorDescription();
            ShowMessageBox(
                this,
                QStringLiteral("ErrCode[%1] Description[%2]")
                    .arg(QString::number(static_cast<unsigned long>(code) & 0xFFFFFFFFu, 16),
                         description),
                QStringLiteral("ERROR"));
        }
    });

    // 7. The player has no visible area of its own.
    if (QWidget* player = m_player.GetWindow())
        player->setGeometry(0, 0, 0, 0);

    // 8, 9. Trackbars from the player; a position outside the range shows
    // clamped while the member keeps the value read.
    SafeDispatch([this] {
        m_nVolume = static_cast<int>(m_player.GetVolume());
        SetUpTrackbar(m_sliderVolume, -1000, 0, m_nVolume, 100);
    });
    SafeDispatch([this] {
        m_nBalance = static_cast<int>(m_player.GetBalance());
        SetUpTrackbar(m_sliderBalance, -10000, 10000, m_nBalance, 1000);
    });

    // 10. The one-second status timer; it ends with the window.
    m_timer.start(1000, this);

    // 11, 12. The station list.
    if (m_listStations) {
        m_listStations->DeleteAllItems();
        m_listStations->SetImageList(&m_imageSmall, LVSIL_SMALL);
        m_listStations->SetImageList(&m_imageNormal, LVSIL_NORMAL);
        while (m_listStations->DeleteColumn(0)) {
        }
    }
    FillStationList(); // the columns, then the rows

    // 13.
    repaint();
    update();
    return true;
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
        RouteMessage(Msg::LButtonDblClk, WithPoint(event->position().toPoint()));
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
        RouteMessage(Msg::Timer, WithId(0));
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
