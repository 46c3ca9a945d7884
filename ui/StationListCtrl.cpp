#include "ui/StationListCtrl.h"

#include "ui/ImageList.h"

#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <algorithm>
#include <memory>

namespace didira {

namespace {
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kFitPadding = 15;
constexpr int kIconSize = 16;
} // namespace

CStationListCtrl::CStationListCtrl(QWidget* parent) : QTableWidget(parent) {
    // Report view, single selection, no sorting, not editable.
    verticalHeader()->hide();
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setShowGrid(false);
    setIconSize(QSize(kIconSize, kIconSize));
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    UpdateRowHeight();
}

CStationListCtrl::~CStationListCtrl() = default;

int CStationListCtrl::FittedWidth(const QString& heading) const {
    return fontMetrics().horizontalAdvance(heading) + kFitPadding;
}

int CStationListCtrl::InsertFittedColumn(const QString& heading, int column, int subItem,
                                         unsigned mask, int format) {
    Q_UNUSED(subItem); // a column's cells are addressed by its position here
    if (column < 0)
        return -1;
    const int width = FittedWidth(heading);
    column = std::min(column, columnCount());
    insertColumn(column);
    auto header = std::make_unique<QTableWidgetItem>();
    if (mask & LVCF_TEXT)
        header->setText(heading);
    Qt::Alignment alignment = Qt::AlignLeft;
    if (mask & LVCF_FMT) {
        if ((format & 0x3) == LVCFMT_RIGHT)
            alignment = Qt::AlignRight;
        else if ((format & 0x3) == LVCFMT_CENTER)
            alignment = Qt::AlignHCenter;
    }
    header->setTextAlignment(alignment | Qt::AlignVCenter);
    setHorizontalHeaderItem(column, header.release());
    if (mask & LVCF_WIDTH)
        setColumnWidth(column, width);
    return column;
}

void CStationListCtrl::ApplyIcon(QTableWidgetItem& item) const {
    const QVariant image = item.data(kImageRole);
    if (!image.isValid() || m_pImageSmall == nullptr) {
        item.setIcon(QIcon());
        return;
    }
    const QPixmap pixmap = m_pImageSmall->GetImage(image.toInt());
    item.setIcon(pixmap.isNull() ? QIcon() : QIcon(pixmap));
}

int CStationListCtrl::PutItemText(int row, int subItem, const QString& text, int image) {
    if (subItem == 0) {
        if (row < 0)
            return -1;
        row = std::min(row, rowCount());
        insertRow(row);
        if (columnCount() == 0)
            return row; // a row without columns: nothing of it shows
        auto item = std::make_unique<QTableWidgetItem>(text);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        if (image != -1)
            item->setData(kImageRole, image);
        ApplyIcon(*item);
        setItem(row, 0, item.release());
        return row;
    }
    if (row < 0 || row >= rowCount() || subItem < 0 || subItem >= columnCount())
        return 0;
    // Sub-item images are not shown, so the image index is not kept.
    if (QTableWidgetItem* existing = item(row, subItem)) {
        existing->setText(text);
        return 1;
    }
    auto cell = std::make_unique<QTableWidgetItem>(text);
    cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    setItem(row, subItem, cell.release());
    return 1;
}

void CStationListCtrl::SetExtendedStyle(unsigned long style) {
    m_dwExStyle = style;
    setShowGrid(style & LVS_EX_GRIDLINES);
    setSelectionBehavior((style & LVS_EX_FULLROWSELECT) ? QAbstractItemView::SelectRows
                                                        : QAbstractItemView::SelectItems);
}

const CImageList* CStationListCtrl::SetImageList(const CImageList* list, int which) {
    const CImageList* previous = nullptr;
    if (which == LVSIL_NORMAL) {
        previous = m_pImageNormal;
        m_pImageNormal = list;
        return previous; // report view never shows the normal images
    }
    if (which != LVSIL_SMALL)
        return nullptr;
    previous = m_pImageSmall;
    m_pImageSmall = list;
    for (int r = 0; r < rowCount(); ++r) {
        if (QTableWidgetItem* cell = item(r, 0))
            ApplyIcon(*cell);
    }
    UpdateRowHeight();
    return previous;
}

bool CStationListCtrl::DeleteAllItems() {
    setRowCount(0);
    return true;
}

bool CStationListCtrl::DeleteColumn(int column) {
    if (column < 0 || column >= columnCount())
        return false;
    removeColumn(column);
    return true;
}

QString CStationListCtrl::GetItemText(int row, int subItem) const {
    const QTableWidgetItem* cell = item(row, subItem);
    return cell != nullptr ? cell->text() : QString();
}

int CStationListCtrl::GetItemImage(int row) const {
    const QTableWidgetItem* cell = item(row, 0);
    if (cell == nullptr)
        return -1;
    const QVariant image = cell->data(kImageRole);
    return image.isValid() ? image.toInt() : -1;
}

void CStationListCtrl::UpdateRowHeight() {
    // Rows as tall as the text or a small image, whichever is taller.
    const int height = std::max(fontMetrics().height(), kIconSize) + 2;
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(height);
}

void CStationListCtrl::changeEvent(QEvent* event) {
    QTableWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateRowHeight();
}

void CStationListCtrl::mouseReleaseEvent(QMouseEvent* event) {
    QTableWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit nmClick();
}

} // namespace didira
