#include "ui/StationListCtrl.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace didira {

CStationListCtrl::CStationListCtrl(QWidget* parent) : QTableWidget(parent) {
    verticalHeader()->hide();
    setSortingEnabled(false);
    setShowGrid(false);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    horizontalHeader()->setHighlightSections(false);
}

void CStationListCtrl::SetExtendedStyle(unsigned long exStyle) {
    m_exStyle = exStyle;
    setShowGrid(exStyle & LVS_EX_GRIDLINES);
    setSelectionBehavior((exStyle & LVS_EX_FULLROWSELECT) ? QAbstractItemView::SelectRows
                                                          : QAbstractItemView::SelectItems);
}

void CStationListCtrl::SetImageList(const CImageList* images, int which) {
    if (which == LVSIL_SMALL)
        m_pSmallImages = images;
    else if (which == LVSIL_NORMAL)
        m_pNormalImages = images;
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

CStationListCtrl::~CStationListCtrl() = default;

int CStationListCtrl::InsertFittedColumn(const QString&, int, int, unsigned, int) {
    return -1;
}

int CStationListCtrl::PutItemText(int, int, const QString&, int) {
    return -1;
}

void CStationListCtrl::mouseReleaseEvent(QMouseEvent* event) {
    QTableWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit nmClick();
}

} // namespace didira
