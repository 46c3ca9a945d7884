#pragma once
// The station list: a report-style list with two operations of its own.

#include <QTableWidget>

namespace didira {

// List column mask and format bits (list-view numbering).
inline constexpr unsigned LVCF_FMT = 0x1;
inline constexpr unsigned LVCF_WIDTH = 0x2;
inline constexpr unsigned LVCF_TEXT = 0x4;
inline constexpr unsigned LVCF_SUBITEM = 0x8;
inline constexpr int LVCFMT_LEFT = 0;
// Image list slots.
inline constexpr int LVSIL_NORMAL = 0;
inline constexpr int LVSIL_SMALL = 1;
// Extended list styles.
inline constexpr unsigned long LVS_EX_GRIDLINES = 0x01;
inline constexpr unsigned long LVS_EX_FULLROWSELECT = 0x20;

class CImageList;

class CStationListCtrl final : public QTableWidget {
    Q_OBJECT
public:
    explicit CStationListCtrl(QWidget* parent = nullptr);
    ~CStationListCtrl() override;
    Q_DISABLE_COPY_MOVE(CStationListCtrl)

    // Inserts a column as wide as heading in the list's font plus 15 pixels;
    // returns the new column's index, or -1.
    int InsertFittedColumn(const QString& heading, int column, int subItem = -1,
                           unsigned mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM,
                           int format = LVCFMT_LEFT);
    // Sub-item 0 inserts row `row`; any other sub-item sets that cell of an
    // existing row. image -1 leaves the image unset.
    int PutItemText(int row, int subItem, const QString& text, int image = -1);

    unsigned long GetExtendedStyle() const { return m_exStyle; }
    void SetExtendedStyle(unsigned long exStyle);
    void SetImageList(const CImageList* images, int which);
    bool DeleteAllItems();
    // Deletes column `column`; false when there was none.
    bool DeleteColumn(int column);

signals:
    // A click anywhere in the list (on a row or not), after the list has
    // updated its selection.
    void nmClick();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    unsigned long m_exStyle = 0;
    const CImageList* m_pSmallImages = nullptr;
    const CImageList* m_pNormalImages = nullptr;
};

} // namespace didira
