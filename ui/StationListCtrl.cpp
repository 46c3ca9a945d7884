#include "ui/StationListCtrl.h"

#include <QMouseEvent>

namespace didira {

CStationListCtrl::CStationListCtrl(QWidget* parent) : QTableWidget(parent) {}

CStationListCtrl::~CStationListCtrl() = default;

int CStationListCtrl::InsertFittedColumn(const QString&, int, int, unsigned, int) { return -1; }

int CStationListCtrl::PutItemText(int, int, const QString&, int) { return -1; }

void CStationListCtrl::mouseReleaseEvent(QMouseEvent* event) {
    QTableWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit nmClick();
}

} // namespace didira
