#include "res/Resources.h"

#include <QFile>
#include <stdexcept>

// The resources are compiled into the static core library; register them
// before the first use, as a static library's initialisers may be dropped.
static void InitResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(didira);
        return true;
    }();
    (void)done;
}

namespace didira {

QString LoadResourceString(unsigned id) {
    switch (id) {
    case IDP_OLE_INIT_FAILED:
        return QStringLiteral(
            "OLE の初期化に失敗しました。 OLE ﾗｲﾌﾞﾗﾘのﾊﾞｰｼﾞｮﾝが正しいことを確認して"
            "ください。");
    case IDS_ABOUTBOX:
        return QStringLiteral("Vavaroz のﾊﾞｰｼﾞｮﾝ情報(&A)...");
    case IDS_STATION_COLUMNS:
        return QStringLiteral("Radio Station,URL                           ,");
    case IDP_SOCKETS_INIT_FAILED:
        return QStringLiteral("Windows ｿｹｯﾄの初期化に失敗しました。");
    default:
        return QString();
    }
}

namespace {

using namespace style;

constexpr std::uint32_t kChild = WS_VISIBLE;
constexpr std::uint32_t kButton = kChild | WS_TABSTOP;
constexpr std::uint32_t kEdit = kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY;
constexpr std::uint32_t kLabel = kChild | SS_CENTERIMAGE; // left-aligned, vertically centred
constexpr std::uint32_t kTrackbar = kChild | WS_BORDER | WS_TABSTOP | TBS_TOP | TBS_AUTOTICKS;
constexpr std::uint32_t kList = kChild | WS_BORDER | WS_TABSTOP | LVS_ALIGNLEFT | LVS_SINGLESEL |
                                LVS_REPORT; // 0x50810805 with WS_CHILD

ControlTemplate Ctl(int id, ControlKind kind, const QString& text, QRect rect, std::uint32_t st) {
    return ControlTemplate{id, kind, text, rect, st, QString(), QByteArray()};
}

DialogTemplate MakeMainDialog() {
    DialogTemplate t{IDD_VAVAROZ_DIALOG,
                     QStringLiteral("Didira"),
                     QSize(359, 169),
                     QStringLiteral("ＭＳ Ｐゴシック"),
                     9,
                     0,
                     {}};
    t.controls = {
        Ctl(IDOK, ControlKind::DefPushButton, QStringLiteral("End"), QRect(307, 148, 46, 14),
            kButton),
        Ctl(IDC_PLAYSTATE, ControlKind::Edit, QString(), QRect(231, 56, 122, 12), kEdit),
        Ctl(IDC_STATIC, ControlKind::Static, QStringLiteral("PlayState"), QRect(198, 56, 33, 15),
            kLabel),
        Ctl(IDC_MEDIAPLAYER, ControlKind::OleControl, QString(), QRect(195, 146, 29, 16),
            kChild | WS_TABSTOP),
        Ctl(IDC_RECEIVE, ControlKind::PushButton, QStringLiteral("Recieve"), QRect(7, 148, 46, 14),
            kButton),
        Ctl(IDC_OPENSTATE, ControlKind::Edit, QString(), QRect(231, 77, 122, 12), kEdit),
        Ctl(IDC_STATIC, ControlKind::Static, QStringLiteral("OpenState"), QRect(198, 77, 32, 15),
            kLabel),
        Ctl(IDC_VOLUME, ControlKind::Trackbar, QStringLiteral("Slider1"), QRect(40, 103, 64, 27),
            kTrackbar),
        Ctl(IDC_STATIC, ControlKind::Static, QStringLiteral("Volume"), QRect(13, 103, 24, 15),
            kLabel),
        Ctl(IDC_BALANCE, ControlKind::Trackbar, QStringLiteral("Slider1"), QRect(138, 105, 64, 25),
            kTrackbar),
        Ctl(IDC_STATIC, ControlKind::Static, QStringLiteral("Balance"), QRect(110, 105, 27, 15),
            kLabel),
        Ctl(IDC_CANCEL, ControlKind::PushButton, QStringLiteral("Cancel"), QRect(66, 148, 46, 14),
            kButton),
        Ctl(IDC_BANDWIDTH, ControlKind::Edit, QString(), QRect(295, 97, 34, 12), kEdit | ES_RIGHT),
        Ctl(IDC_STATIC, ControlKind::Static, QStringLiteral("Band Width"), QRect(258, 97, 36, 15),
            kLabel),
        Ctl(IDC_STATIC, ControlKind::Static, QStringLiteral("bps"), QRect(334, 97, 13, 15), kLabel),
        Ctl(IDC_STATIONLIST, ControlKind::ListView, QStringLiteral("List2"), QRect(7, 7, 186, 91),
            kList),
        Ctl(IDC_RADIOSTATION, ControlKind::Edit, QString(), QRect(242, 14, 111, 12), kEdit),
        Ctl(IDC_STATIC, ControlKind::Static, QStringLiteral("Radio Station"),
            QRect(198, 14, 40, 15), kLabel),
        Ctl(IDC_URL, ControlKind::Edit, QString(), QRect(216, 35, 137, 12), kEdit),
        Ctl(IDC_STATIC, ControlKind::Static, QStringLiteral("URL"), QRect(198, 35, 15, 15), kLabel),
        // Created hidden and disabled; nothing shows or enables it.
        Ctl(IDC_IMPORT, ControlKind::PushButton, QStringLiteral("File inport"),
            QRect(131, 147, 46, 15), WS_DISABLED | WS_TABSTOP),
        Ctl(IDC_STATIC, ControlKind::StaticIcon, QString::number(IDR_MAINFRAME),
            QRect(241, 125, 20, 20), kChild | SS_NOTIFY),
    };
    for (ControlTemplate& c : t.controls) {
        if (c.id == IDC_MEDIAPLAYER) {
            c.clsid = QString::fromLatin1(kMediaPlayerClsid);
            c.initData = MediaPlayerInitData();
        }
    }
    return t;
}

DialogTemplate MakeAboutDialog() {
    DialogTemplate t{IDD_ABOUTBOX,
                     QStringLiteral("Didira"),
                     QSize(235, 55),
                     QStringLiteral("ＭＳ Ｐゴシック"),
                     9,
                     0,
                     {}};
    t.controls = {
        Ctl(IDC_STATIC, ControlKind::StaticIcon, QString::number(IDR_MAINFRAME),
            QRect(19, 13, 20, 20), kChild),
        Ctl(IDC_STATIC, ControlKind::Static, QStringLiteral("Didira Net Radio Ver0.1 Release 1"),
            QRect(49, 7, 119, 8), kChild | SS_NOPREFIX),
        Ctl(IDOK, ControlKind::DefPushButton, QStringLiteral("OK"), QRect(178, 7, 50, 14),
            kButton | WS_GROUP),
    };
    return t;
}

} // namespace

const DialogTemplate& GetDialogTemplate(int id) {
    static const DialogTemplate mainDialog = MakeMainDialog();
    static const DialogTemplate aboutDialog = MakeAboutDialog();
    if (id == IDD_VAVAROZ_DIALOG)
        return mainDialog;
    if (id == IDD_ABOUTBOX)
        return aboutDialog;
    throw std::out_of_range("no dialog template with this id");
}

QImage LoadBitmapResource(int id) {
    InitResources();
    switch (id) {
    case IDB_SMALL_ICONS:
        return QImage(QStringLiteral(":/res/bitmap131.bmp"));
    case IDB_NORMAL_ICONS:
        return QImage(QStringLiteral(":/res/bitmap132.bmp"));
    default:
        return QImage();
    }
}

QIcon LoadIconResource(int id) {
    InitResources();
    if (id != IDR_MAINFRAME)
        return QIcon();
    QIcon icon;
    icon.addFile(QStringLiteral(":/res/icon128.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/res/icon128_16.png"), QSize(16, 16));
    return icon;
}

QByteArray MediaPlayerInitData() {
    // Control 1001's persisted state: a 4-byte prefix length (0), the stream
    // version 1, the extent 1349 x 635 (0.01 mm), then 61 typed values.
    static const unsigned char kState[] = {
        0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x45, 0x05, 0x00, 0x00, 0x7B, 0x02, 0x00,
        0x00, 0x03, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF,
        0x0B, 0x00, 0xFF, 0xFF, 0x0B, 0x00, 0xFF, 0xFF, 0x0B, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x02,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x14, 0x40, 0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF,
        0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0,
        0xBF, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x13, 0x00, 0x00, 0x00, 0x00, 0x00, 0x13, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x03, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF, 0x0B, 0x00,
        0xFF, 0xFF, 0x0B, 0x00, 0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF, 0x08,
        0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0xFF, 0xFF,
        0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00,
        0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F, 0x08, 0x00, 0x02, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x02,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0xBF,
        0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0xBF, 0x0B, 0x00, 0xFF, 0xFF, 0x0B,
        0x00, 0xFF, 0xFF, 0x0B, 0x00, 0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00,
        0x0B, 0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF,
        0xFF, 0x0B, 0x00, 0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x0B, 0x00,
        0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00, 0x03,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x13, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00,
        0x03, 0x00, 0xA8, 0xFD, 0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00,
    };
    static_assert(sizeof(kState) == 340);
    return QByteArray(reinterpret_cast<const char*>(kState), sizeof(kState));
}

} // namespace didira
