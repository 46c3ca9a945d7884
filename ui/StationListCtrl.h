#pragma once
// The station list: a report-style list with two operations of its own.

#include <QTableWidget>

namespace didira {

class CImageList;

// List column mask and format bits (list-view numbering).
inline constexpr unsigned LVCF_FMT = 0x1;
inline constexpr unsigned LVCF_WIDTH = 0x2;
inline constexpr unsigned LVCF_TEXT = 0x4;
inline constexpr unsigned LVCF_SUBITEM = 0x8;
inline constexpr int LVCFMT_LEFT = 0;
inline constexpr int LVCFMT_RIGHT = 1;
inline constexpr int LVCFMT_CENTER = 2;

// Extended list styles.
inline constexpr unsigned long LVS_EX_GRIDLINES = 0x01;
inline constexpr unsigned long LVS_EX_FULLROWSELECT = 0x20;

// Image list slots.
inline constexpr int LVSIL_NORMAL = 0;
inline constexpr int LVSIL_SMALL = 1;

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
    // existing row. image -1 leaves the image unset. Images show in column 0
    // only. Returns the new row's index (or -1) for sub-item 0, else non-zero
    // on success.
    int PutItemText(int row, int subItem, const QString& text, int image = -1);

    // Full-row selection (LVS_EX_FULLROWSELECT) and grid lines (LVS_EX_GRIDLINES).
    unsigned long GetExtendedStyle() const { return m_dwExStyle; }
    void SetExtendedStyle(unsigned long style);

    // Attaches an image list (not owned; it must outlive its use here) to
    // slot LVSIL_SMALL or LVSIL_NORMAL; returns the one attached before.
    // Rows show images of the small list.
    const CImageList* SetImageList(const CImageList* list, int which);

    // True on success, also when the list was already empty.
    bool DeleteAllItems();
    // False when there is no such column.
    bool DeleteColumn(int column);

    int GetItemCount() const { return rowCount(); }
    QString GetItemText(int row, int subItem) const;
    // The image index of a row, or -1 when it has none.
    int GetItemImage(int row) const;
    // The width a heading gets: its width in the list's font plus 15 pixels.
    int FittedWidth(const QString& heading) const;

signals:
    // A click anywhere in the list (on a row or not), after the list has
    // updated its selection.
    void nmClick();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void ApplyIcon(QTableWidgetItem& item) const;
    void UpdateRowHeight();

    unsigned long m_dwExStyle = 0;
    const CImageList* m_pImageSmall = nullptr;
    const CImageList* m_pImageNormal = nullptr;
};

} // namespace didira
