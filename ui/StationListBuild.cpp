#include "ui/StationListBuild.h"

#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

#include <cstdlib>

namespace didira {

namespace {
constexpr int kHeadingUnits = 10;
constexpr int kOtherImage = 4;
} // namespace

int Cp932Width(const QString& text) {
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        const bool single = c < 0x80 || (c >= 0xFF61 && c <= 0xFF9F);
        width += single ? 1 : 2;
    }
    return width;
}

QString PadHeading(const QString& heading) {
    return heading + QString(std::abs(kHeadingUnits - Cp932Width(heading)), QLatin1Char(' '));
}

int FlagImageIndex(const QString& number) {
    qsizetype i = 0;
    const qsizetype n = number.size();
    const auto isSpace = [](QChar c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
    };
    while (i < n && isSpace(number[i]))
        ++i;
    bool negative = false;
    if (i < n && (number[i] == u'+' || number[i] == u'-')) {
        negative = number[i] == u'-';
        ++i;
    }
    // Only the range 0..3 matters, so the value saturates instead of
    // overflowing.
    long long value = 0;
    while (i < n && number[i] >= u'0' && number[i] <= u'9') {
        if (value < 1000)
            value = value * 10 + (number[i].unicode() - u'0');
        ++i;
    }
    if (negative)
        value = -value;
    return value >= 0 && value <= 3 ? static_cast<int>(value) : kOtherImage;
}

void ClearStationList(CStationListCtrl& list) {
    list.DeleteAllItems();
    while (list.DeleteColumn(0)) {
    }
}

void AddStationColumns(CStationListCtrl& list, const QString& headings) {
    QString rest = headings;
    int column = 0;
    for (qsizetype comma = rest.indexOf(u','); comma != -1; comma = rest.indexOf(u',')) {
        list.InsertFittedColumn(PadHeading(rest.left(comma)), column, -1,
                                LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM, LVCFMT_LEFT);
        ++column;
        rest = rest.mid(comma + 1);
    }
}

void AddStationRows(CStationListCtrl& list, const StationTable& table) {
    for (int i = 0; i < kMaxStations; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (table.number[k].isEmpty())
            break;
        const int image = FlagImageIndex(table.number[k]);
        list.PutItemText(i, 0, table.name[k], image);
        list.PutItemText(i, 1, table.url[k], image);
    }
}

} // namespace didira
