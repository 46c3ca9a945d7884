#include "ui/HistoryWindow.h"

#include "control/SongHistory.h"
#include "ui/HistoryExport.h"
#include "ui/MessageBox.h"
#include "ui/SaveFileDialog.h"

#include <QAbstractTableModel>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>
#include <deque>

namespace didira {

namespace {

enum Column { kTime, kStation, kTitle, kColumns };

// The history's entries, newest first, following it as entries come.
class HistoryModel final : public QAbstractTableModel {
public:
    HistoryModel(const CSongHistory& history, QObject* parent)
        : QAbstractTableModel(parent), m_history(history) {
        Reset();
        connect(&history, &CSongHistory::entriesReset, this, [this] { Reset(); });
        connect(&history, &CSongHistory::entryAdded, this, [this](const HeardEntry& entry) {
            beginInsertRows(QModelIndex(), 0, 0);
            m_rows.push_front(entry);
            endInsertRows();
            // The limits take the oldest.
            const auto keep = static_cast<int>(m_history.Entries().size());
            if (static_cast<int>(m_rows.size()) > keep) {
                beginRemoveRows(QModelIndex(), keep, static_cast<int>(m_rows.size()) - 1);
                m_rows.resize(static_cast<std::size_t>(keep));
                endRemoveRows();
            }
        });
    }
    const HeardEntry& At(int row) const { return m_rows[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : kColumns;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
            return QVariant();
        const HeardEntry& entry = At(index.row());
        switch (index.column()) {
        case kTime:
            return QDateTime::fromMSecsSinceEpoch(entry.heardMs)
                .toString(QStringLiteral("yyyy/MM/dd HH:mm"));
        case kStation:
            return entry.station;
        default:
            return entry.title;
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QVariant();
        static const QString names[kColumns] = {QStringLiteral("日時"), QStringLiteral("放送局"),
                                                QStringLiteral("曲名")};
        return section >= 0 && section < kColumns ? names[section] : QString();
    }

private:
    void Reset() {
        beginResetModel();
        m_rows.assign(m_history.Entries().rbegin(), m_history.Entries().rend());
        endResetModel();
    }
    const CSongHistory& m_history;
    std::deque<HeardEntry> m_rows;
};

// Rows whose title or station holds the text (in any case), of the station
// chosen (any when none is).
class HistoryFilter final : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void SetCriteria(const QString& text, const QString& station) {
        m_text = text.trimmed();
        m_station = station;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex&) const override {
        const HeardEntry& entry = static_cast<const HistoryModel*>(sourceModel())->At(row);
        if (!m_station.isNull() && entry.station != m_station)
            return false;
        return m_text.isEmpty() || entry.title.contains(m_text, Qt::CaseInsensitive) ||
               entry.station.contains(m_text, Qt::CaseInsensitive);
    }

private:
    QString m_text;
    QString m_station; // null: any
};

} // namespace

QString CopyText(const HeardEntry& entry) {
    return QStringLiteral("%1 — %2").arg(entry.title, entry.station);
}

CHistoryWindow::CHistoryWindow(const CSongHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), m_history(history) {
    setWindowTitle(QStringLiteral("曲の履歴"));
    auto* model = new HistoryModel(history, this);
    m_filter = new HistoryFilter(this);
    m_filter->setSourceModel(model);

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("曲名や放送局で検索"));
    m_search->setClearButtonEnabled(true);
    m_station = new QComboBox(this);
    m_station->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_list = new QTableView(this);
    m_list->setModel(m_filter);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->setAlternatingRowColors(true);
    m_list->setShowGrid(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->horizontalHeader()->setSectionResizeMode(kTime, QHeaderView::ResizeToContents);
    m_list->horizontalHeader()->setSectionResizeMode(kStation, QHeaderView::Interactive);
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->setColumnWidth(kStation, 160);
    m_count = new QLabel(this);
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    auto* exportButton = new QPushButton(QStringLiteral("CSVに書き出す…"), this);
    auto* closeButton = new QPushButton(QStringLiteral("閉じる"), this);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("検索:"), this));
    top->addWidget(m_search, 1);
    top->addWidget(new QLabel(QStringLiteral("放送局:"), this));
    top->addWidget(m_station);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_count, 1);
    bottom->addWidget(exportButton);
    bottom->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_problem);
    layout->addLayout(bottom);
    m_list->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    resize(620, 420);

    const auto refilter = [this] {
        static_cast<HistoryFilter*>(m_filter)->SetCriteria(m_search->text(),
                                                           m_station->currentData().toString());
        UpdateCount();
    };
    connect(m_search, &QLineEdit::textChanged, this, refilter);
    connect(m_station, &QComboBox::currentIndexChanged, this, refilter);
    connect(exportButton, &QPushButton::clicked, this, &CHistoryWindow::Export);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_list, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { CopyRow(index.row()); });
    connect(new QShortcut(QKeySequence::Copy, m_list), &QShortcut::activated, this, [this] {
        if (m_list->currentIndex().isValid())
            CopyRow(m_list->currentIndex().row());
    });
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, m_search,
            [this] { m_search->setFocus(Qt::ShortcutFocusReason); });
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this, &QWidget::hide);
    connect(&history, &CSongHistory::entriesReset, this, &CHistoryWindow::FillStations);
    connect(&history, &CSongHistory::entryAdded, this, &CHistoryWindow::FillStations);
    connect(&history, &CSongHistory::trouble, this, [this] {
        m_problem->setText(m_history.Problem());
        m_problem->setVisible(true);
    });
    m_problem->setText(history.Problem());
    m_problem->setVisible(!history.Problem().isEmpty());
    FillStations();
    UpdateCount();
}

CHistoryWindow::~CHistoryWindow() = default;

void CHistoryWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        m_list->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
}

void CHistoryWindow::Present() {
    showNormal();
    raise();
    activateWindow();
}

std::vector<HeardEntry> CHistoryWindow::Shown() const {
    std::vector<HeardEntry> shown;
    const auto* model = static_cast<const HistoryModel*>(m_filter->sourceModel());
    for (int row = 0; row < m_filter->rowCount(); ++row)
        shown.push_back(model->At(m_filter->mapToSource(m_filter->index(row, 0)).row()));
    return shown;
}

void CHistoryWindow::FillStations() {
    QStringList stations;
    for (const HeardEntry& entry : m_history.Entries())
        stations << entry.station;
    stations.removeDuplicates();
    stations.sort(Qt::CaseInsensitive);
    const QString current = m_station->currentData().toString();
    QSignalBlocker quiet(m_station);
    m_station->clear();
    m_station->addItem(QStringLiteral("すべての放送局"), QString());
    for (const QString& station : std::as_const(stations))
        m_station->addItem(station, station);
    // The station chosen stays chosen while it has entries.
    const int index = current.isNull() ? 0 : m_station->findData(current);
    m_station->setCurrentIndex(std::max(index, 0));
    if (index < 0)
        static_cast<HistoryFilter*>(m_filter)->SetCriteria(m_search->text(), QString());
    UpdateCount();
}

void CHistoryWindow::UpdateCount() {
    const int all = static_cast<int>(m_history.Entries().size());
    const int shown = m_filter->rowCount();
    m_count->setText(shown == all ? QStringLiteral("%1 曲").arg(all)
                                  : QStringLiteral("%1 曲 / 全 %2 曲").arg(shown).arg(all));
}

void CHistoryWindow::Export() {
    QString path = GetSaveFileName(
        {this, QStringLiteral("didira-history.csv"), QStringLiteral("CSV ファイル (*.csv)")});
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    QString error;
    if (!WriteHistoryCsv(path, Shown(), &error))
        ShowMessageBox(
            this, QStringLiteral("CSVファイルに書き出せませんでした。\n%1\n%2").arg(path, error),
            QString(), MbIcon::Stop);
}

void CHistoryWindow::CopyRow(int row) {
    const auto* model = static_cast<const HistoryModel*>(m_filter->sourceModel());
    const QModelIndex source = m_filter->mapToSource(m_filter->index(row, 0));
    if (source.isValid())
        QGuiApplication::clipboard()->setText(CopyText(model->At(source.row())));
}

} // namespace didira
