#pragma once
// The application's resources: the string table, the dialog templates, the
// icon and the bitmaps, all compiled in.

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QString>
#include <QVector>
#include <cstdint>

namespace didira {

// String table ids.
inline constexpr unsigned IDP_OLE_INIT_FAILED = 100;
inline constexpr unsigned IDS_ABOUTBOX = 101;
inline constexpr unsigned IDS_STATION_COLUMNS = 102;
inline constexpr unsigned IDP_SOCKETS_INIT_FAILED = 103;

// Resource ids of templates, icon and bitmaps.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_VAVAROZ_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDB_SMALL_ICONS = 131;
inline constexpr int IDB_NORMAL_ICONS = 132;

// Control ids of template 102.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_PLAYSTATE = 1000;
inline constexpr int IDC_MEDIAPLAYER = 1001;
inline constexpr int IDC_RECEIVE = 1002;
inline constexpr int IDC_CANCEL = 1003;
inline constexpr int IDC_STATIONLIST = 1004;
inline constexpr int IDC_OPENSTATE = 1005;
inline constexpr int IDC_VOLUME = 1006;
inline constexpr int IDC_BALANCE = 1007;
inline constexpr int IDC_BANDWIDTH = 1009;
inline constexpr int IDC_RADIOSTATION = 1010;
inline constexpr int IDC_URL = 1011;
inline constexpr int IDC_IMPORT = 1013;
inline constexpr int IDC_STATIC = -1;

// The text of string resource id; empty when there is none.
QString LoadResourceString(unsigned id);

enum class ControlKind {
    PushButton,
    DefPushButton,
    Edit,
    Static,     // a text label
    StaticIcon, // an icon
    Trackbar,
    ListView,
    OleControl,
};

// Window and control style bits used by the templates (platform numbering).
namespace style {
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;
inline constexpr std::uint32_t WS_DISABLED = 0x08000000;
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000;
inline constexpr std::uint32_t WS_GROUP = 0x00020000;
inline constexpr std::uint32_t ES_RIGHT = 0x0002;
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x0080;
inline constexpr std::uint32_t ES_READONLY = 0x0800;
inline constexpr std::uint32_t SS_NOPREFIX = 0x0080;
inline constexpr std::uint32_t SS_NOTIFY = 0x0100;
inline constexpr std::uint32_t SS_CENTERIMAGE = 0x0200;
inline constexpr std::uint32_t TBS_TOP = 0x0004;
inline constexpr std::uint32_t TBS_AUTOTICKS = 0x0001;
inline constexpr std::uint32_t LVS_REPORT = 0x0001;
inline constexpr std::uint32_t LVS_SINGLESEL = 0x0004;
inline constexpr std::uint32_t LVS_ALIGNLEFT = 0x0800;
} // namespace style

struct ControlTemplate {
    int id;
    ControlKind kind;
    QString text;
    QRect rect; // dialog units: x, y, width, height
    std::uint32_t style;
    bool hidden() const { return !(style & style::WS_VISIBLE); }
    bool disabled() const { return style & style::WS_DISABLED; }
    QString clsid;       // OleControl only
    QByteArray initData; // OleControl only: the persisted state entry
};

struct DialogTemplate {
    int id;
    QString caption;
    QSize size; // dialog units
    QString fontFace;
    int pointSize;
    std::uint32_t style;
    QVector<ControlTemplate> controls;
};

// The dialog template id (100 or 102); throws std::out_of_range for others.
const DialogTemplate& GetDialogTemplate(int id);

// Bitmap resource id (131, 132); a null image when there is none.
QImage LoadBitmapResource(int id);

// Icon resource 128.
QIcon LoadIconResource(int id);

// The player control's class id and the 340-byte persisted state entry of
// control 1001 (message 886).
inline constexpr char kMediaPlayerClsid[] = "{22D6F312-B0F6-11D0-94AB-0080C74C7E95}";
QByteArray MediaPlayerInitData();

} // namespace didira
