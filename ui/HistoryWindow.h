#pragma once
// The song history's window ("曲の履歴"): the entries newest first (time,
// station, title), narrowed by a text (in the title or the station) and by
// station; what it shows is exported as CSV ("CSVに書き出す…"), and a
// double-click (or Ctrl+C) copies "Title — Station". It follows the history
// as entries come; closing it (or Escape) only hides it.

#include <QPointer>
#include <QWidget>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;

namespace didira {

class CSongHistory;
struct HeardEntry;

class CHistoryWindow final : public QWidget {
    Q_OBJECT
public:
    // history must outlive this window.
    explicit CHistoryWindow(const CSongHistory& history, QWidget* parent = nullptr);
    ~CHistoryWindow() override;
    Q_DISABLE_COPY_MOVE(CHistoryWindow)

    // Shows the window in front.
    void Present();
    // What the list shows, top to bottom.
    std::vector<HeardEntry> Shown() const;

protected:
    void changeEvent(QEvent* event) override; // rows as high as the font

private:
    void FillStations();
    void UpdateCount();
    void Export();
    void CopyRow(int row);

    const CSongHistory& m_history;
    QLineEdit* m_search = nullptr;
    QComboBox* m_station = nullptr;
    QTableView* m_list = nullptr;
    QSortFilterProxyModel* m_filter = nullptr;
    QLabel* m_count = nullptr;
    QLabel* m_problem = nullptr;
};

// "Title — Station", as the tray and the window copy an entry.
QString CopyText(const HeardEntry& entry);

} // namespace didira
