// The main dialog's set-up: the window from its template (Create), the
// template's controls and the player control wired to the message map, data
// exchange, OnCreate and OnInitDialog.
#include "control/ControlHost.h"
#include "res/Resources.h"
#include "ui/ControlErrorBox.h"
#include "ui/DialogLayout.h"
#include "ui/MessageBox.h"
#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <cstdio>

namespace didira {

namespace {

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
    RouteMessage(Msg::Create, MsgArgs{.id = 0, .result = &created});
    if (created == -1)
        return false;

    CreateControls(tpl);
    m_nowPlaying.ShowTitleOn(GetDlgItem(IDC_RADIOSTATION));
    // The player is part of the dialog: without it the dialog does not run.
    for (const ControlTemplate& c : tpl.controls) {
        if (c.kind == ControlKind::OleControl && !AttachPlayer(c, base))
            return false;
    }

    m_bCreated = true;
    SafeDispatch([this] { OnInitDialog(); });
    return true;
}

bool CVavarozDlg::AttachPlayer(const ControlTemplate& c, QSize base) {
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
    connect(made.control, &OleControl::StateChanged, this, [this](PlayState play, OpenState open) {
        m_nowPlaying.SetPlayerState(ToNumber(play), ToNumber(open));
    });
    m_player.Attach(made.control);
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
                    RouteMessage(Msg::Command, MsgArgs{.id = id});
            });
        } else if (auto* slider = qobject_cast<QSlider*>(it.value())) {
            // Every movement of a trackbar is a scroll message, as while a
            // thumb is dragged; positions set by code are not.
            const auto scroll = [this, slider](int code) {
                RouteMessage(
                    Msg::HScroll,
                    MsgArgs{.code = code, .pos = slider->sliderPosition(), .scrollBar = slider});
            };
            connect(slider, &QSlider::valueChanged, this,
                    [scroll] { scroll(5 /*TB_THUMBTRACK*/); });
            connect(slider, &QSlider::sliderReleased, this,
                    [scroll] { scroll(8 /*TB_ENDTRACK*/); });
        } else if (auto* list = qobject_cast<CStationListCtrl*>(it.value())) {
            connect(list, &CStationListCtrl::nmClick, this, [this] {
                long result = 0;
                RouteMessage(Msg::Notify, MsgArgs{.id = IDC_STATIONLIST, .result = &result});
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
    UpdateData(false); // binds the controls and writes the member texts
    if (m_listStations)
        m_listStations->SetExtendedStyle(m_listStations->GetExtendedStyle() | kListFullRowSelect |
                                         kListGridLines);
    if (m_btnReceive)
        m_btnReceive->setEnabled(false);
    BuildSystemMenu();
    setWindowIcon(m_hIcon);
    SetUpPlayer();
    SetUpTrackbars();
    m_timer.start(1000, this); // the one-second status timer; it ends with the window
    SetUpStationList();
    repaint();
    update();
    return true;
}

void CVavarozDlg::SetUpPlayer() {
    // A failure of the player is shown and set-up goes on.
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
    // The player has no visible area of its own.
    if (QWidget* player = m_player.GetWindow())
        player->setGeometry(0, 0, 0, 0);
}

void CVavarozDlg::SetUpTrackbars() {
    // A position outside the range shows clamped while the member keeps the
    // value read.
    SafeDispatch([this] {
        m_nVolume = static_cast<int>(m_player.GetVolume());
        SetUpTrackbar(m_sliderVolume, -1000, 0, m_nVolume, 100);
    });
    SafeDispatch([this] {
        m_nBalance = static_cast<int>(m_player.GetBalance());
        SetUpTrackbar(m_sliderBalance, -10000, 10000, m_nBalance, 1000);
    });
}

void CVavarozDlg::SetUpStationList() {
    if (m_listStations) {
        m_listStations->DeleteAllItems();
        m_listStations->SetImageList(&m_imageSmall, LVSIL_SMALL);
        m_listStations->SetImageList(&m_imageNormal, LVSIL_NORMAL);
        while (m_listStations->DeleteColumn(0)) {
        }
    }
    FillStationList(); // the columns, then the rows
}

} // namespace didira
