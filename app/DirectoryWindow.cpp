#include "app/DirectoryWindow.h"

#include "catalogue/CatalogueAppend.h"
#include "catalogue/CatalogueRead.h"
#include "ui/DlgDirectory.h"
#include "ui/DlgRemote.h"
#include "ui/MessageBox.h"
#include "ui/VavarozDlg.h"

#include <QBoxLayout>
#include <QFile>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QThreadPool>

namespace didira {

namespace {

enum Column { kName, kCodec, kBitrate, kVotes, kCountry, kLanguage, kColumnCount };

// The catalogue's number, which picks the row's flag: Japan, the United
// States, the United Kingdom, else the plain tile.
QString FlagNumber(const QString& countryCode) {
    if (countryCode == u"JP")
        return QStringLiteral("0");
    if (countryCode == u"US")
        return QStringLiteral("1");
    if (countryCode == u"GB")
        return QStringLiteral("2");
    return QStringLiteral("4");
}

QTableWidgetItem* Cell(const QString& text, Qt::Alignment align = Qt::AlignLeft) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setTextAlignment(align | Qt::AlignVCenter);
    return item;
}

} // namespace

CDirectoryWindow::CDirectoryWindow(CVavarozDlg& dlg, const QUrl& base, QWidget* parent)
    : QWidget(parent, Qt::Window), m_pDlg(&dlg), m_client(base) {
    m_writer.setMaxThreadCount(1); // one catalogue write at a time
    setWindowTitle(QStringLiteral("放送局を探す"));
    setWindowIcon(dlg.windowIcon());
    setFont(dlg.font());
    auto* layout = new QVBoxLayout(this);
    BuildSearch(*layout);
    BuildResults(*layout);
    BuildActions(*layout);

    for (QLineEdit* field : {m_name, m_tag, m_country, m_language})
        connect(field, &QLineEdit::returnPressed, this, &CDirectoryWindow::Search);
    connect(m_search, &QPushButton::clicked, this, &CDirectoryWindow::Search);
    connect(m_listen, &QPushButton::clicked, this, &CDirectoryWindow::Listen);
    connect(m_add, &QPushButton::clicked, this, &CDirectoryWindow::Add);
    connect(m_results, &QTableWidget::itemSelectionChanged, this, &CDirectoryWindow::OnSelection);
    connect(m_results, &QTableWidget::cellDoubleClicked, this, &CDirectoryWindow::Listen);
    connect(&m_client, &CDirectoryClient::Found, this, &CDirectoryWindow::OnFound);
    connect(&m_client, &CDirectoryClient::Failed, this, &CDirectoryWindow::OnFailed);
    OnSelection();
    resize(720, 460);
}

void CDirectoryWindow::BuildSearch(QVBoxLayout& layout) {
    auto* fields = new QWidget(this);
    auto* grid = new QGridLayout(fields);
    grid->setContentsMargins(0, 0, 0, 0);
    m_name = AddField(QStringLiteral("名前"), QStringLiteral("name"), fields);
    m_tag = AddField(QStringLiteral("タグ"), QStringLiteral("tag"), fields);
    m_country = AddField(QStringLiteral("国"), QStringLiteral("country"), fields);
    m_language = AddField(QStringLiteral("言語"), QStringLiteral("language"), fields);
    m_country->setPlaceholderText(QStringLiteral("Japan または JP"));
    m_search = new QPushButton(QStringLiteral("検索"), fields);
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setDefault(true);
    grid->addWidget(m_search, 1, 4);
    layout.addWidget(fields);
}

void CDirectoryWindow::BuildResults(QVBoxLayout& layout) {
    m_results = new QTableWidget(0, kColumnCount, this);
    m_results->setObjectName(QStringLiteral("results"));
    m_results->setHorizontalHeaderLabels({QStringLiteral("放送局"), QStringLiteral("コーデック"),
                                          QStringLiteral("ビットレート"), QStringLiteral("票"),
                                          QStringLiteral("国"), QStringLiteral("言語")});
    m_results->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_results->setSelectionMode(QAbstractItemView::SingleSelection);
    m_results->verticalHeader()->hide();
    m_results->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    m_results->setWordWrap(false);
    m_results->setTextElideMode(Qt::ElideRight);
    QHeaderView* header = m_results->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kName, QHeaderView::Stretch);
    layout.addWidget(m_results, 1);
}

void CDirectoryWindow::BuildActions(QVBoxLayout& layout) {
    auto* actions = new QHBoxLayout;
    actions->addWidget(new QLabel(QStringLiteral("登録名"), this));
    m_entryName = new QLineEdit(this);
    m_entryName->setObjectName(QStringLiteral("entryName"));
    actions->addWidget(m_entryName, 1);
    m_listen = new QPushButton(QStringLiteral("試聴"), this);
    m_listen->setObjectName(QStringLiteral("listen"));
    m_add = new QPushButton(QStringLiteral("追加"), this);
    m_add->setObjectName(QStringLiteral("add"));
    auto* close = new QPushButton(QStringLiteral("閉じる"), this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    for (QPushButton* button : {m_listen, m_add, close})
        actions->addWidget(button);
    layout.addLayout(actions);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    layout.addWidget(m_status);
}

CDirectoryWindow::~CDirectoryWindow() {
    m_writer.waitForDone();
}

QLineEdit* CDirectoryWindow::AddField(const QString& label, const QString& name, QWidget* row) {
    auto* grid = static_cast<QGridLayout*>(row->layout());
    const int index = grid->count() / 2; // a label and an edit each
    auto* edit = new QLineEdit(row);
    edit->setObjectName(name);
    grid->addWidget(new QLabel(label, row), index / 2, (index % 2) * 2);
    grid->addWidget(edit, index / 2, (index % 2) * 2 + 1);
    return edit;
}

void CDirectoryWindow::Search() {
    m_client.Search({m_name->text(), m_tag->text(), m_country->text(), m_language->text()});
    Say(QStringLiteral("検索しています…"));
}

void CDirectoryWindow::OnFound(const QList<DirectoryStation>& stations, const QString& note) {
    m_stations = stations;
    m_nEntryRow = -1;
    m_results->clearContents();
    m_results->setRowCount(static_cast<int>(stations.size()));
    for (int row = 0; row < stations.size(); ++row) {
        const DirectoryStation& s = stations[row];
        m_results->setItem(row, kName, Cell(s.name));
        m_results->setItem(row, kCodec, Cell(s.codec));
        m_results->setItem(
            row, kBitrate,
            Cell(s.bitrate > 0 ? QStringLiteral("%1 kbps").arg(s.bitrate) : QStringLiteral("—"),
                 Qt::AlignRight));
        m_results->setItem(row, kVotes, Cell(QString::number(s.votes), Qt::AlignRight));
        m_results->setItem(row, kCountry,
                           Cell(s.countryCode.isEmpty() ? s.country : s.countryCode));
        m_results->setItem(row, kLanguage, Cell(s.language));
        m_results->item(row, kName)->setToolTip(s.url);
    }
    QString text = stations.isEmpty()
                       ? QStringLiteral("見つかりませんでした")
                       : QStringLiteral("%1局見つかりました（票の多い順）").arg(stations.size());
    if (!note.isEmpty())
        text += QStringLiteral("。") + note;
    Say(text);
    OnSelection();
}

void CDirectoryWindow::OnFailed(CDirectoryClient::Failure failure, const QString& reason) {
    switch (failure) {
    case CDirectoryClient::Failure::Unreachable:
        Say(QStringLiteral("放送局ディレクトリに接続できません：%1").arg(reason), true);
        break;
    case CDirectoryClient::Failure::Refused:
        Say(QStringLiteral("放送局ディレクトリの応答を使えません：%1").arg(reason), true);
        break;
    case CDirectoryClient::Failure::ServerError:
        Say(QStringLiteral("放送局ディレクトリで検索できません：%1").arg(reason), true);
        break;
    }
}

int CDirectoryWindow::SelectedRow() const {
    const QList<QTableWidgetSelectionRange> ranges = m_results->selectedRanges();
    const int row = ranges.size() == 1 ? ranges.first().topRow() : -1;
    return row >= 0 && row < m_stations.size() ? row : -1;
}

const DirectoryStation* CDirectoryWindow::Selected() const {
    const int row = SelectedRow();
    return row < 0 ? nullptr : &m_stations[row];
}

void CDirectoryWindow::OnSelection() {
    const DirectoryStation* station = Selected();
    m_listen->setEnabled(station != nullptr);
    m_add->setEnabled(station != nullptr && !m_bAdding);
    m_entryName->setEnabled(station != nullptr);
    const int row = SelectedRow();
    if (row != m_nEntryRow || row < 0) // the listener's edits stay
        m_entryName->setText(station ? station->name : QString());
    m_nEntryRow = row;
}

void CDirectoryWindow::Listen() {
    const DirectoryStation* station = Selected();
    if (!station || !m_pDlg)
        return;
    // The dialog's own player, as a click on a row and "Recieve" would.
    remote::OpenUri(*m_pDlg, station->url, station->name);
    m_client.CountClick(station->uuid);
    Say(QStringLiteral("「%1」を再生します").arg(station->name));
}

void CDirectoryWindow::Add() {
    const DirectoryStation* station = Selected();
    if (!station || !m_pDlg || m_bAdding)
        return;
    const QString name = m_entryName->text().simplified();
    const QString file = remote::CatalogueFile(*m_pDlg);
    const CatalogueEntry entry{FlagNumber(station->countryCode).toStdString(), name.toStdString(),
                               station->url.toStdString()};
    // The file's read, write and sync on the writer's thread; the answer
    // comes back to this window (which waits for the writer as it goes).
    m_bAdding = true;
    OnSelection();
    Say(QStringLiteral("追加しています…"));
    m_writer.start([this, entry, name, file, path = QFile::encodeName(file).toStdString()] {
        const CatalogueAppend result = AppendToCatalogue(path, entry);
        QMetaObject::invokeMethod(
            this, [this, result, name, file] { OnAdded(result, name, file); },
            Qt::QueuedConnection);
    });
}

void CDirectoryWindow::OnAdded(const CatalogueAppend& result, const QString& name,
                               const QString& file) {
    m_bAdding = false;
    OnSelection();
    Say(QString());
    if (!m_pDlg)
        return;
    const QString encoding =
        result.encoding == TextEncoding::Utf8 ? QStringLiteral("UTF-8") : QStringLiteral("CP932");
    switch (result.status) {
    case CatalogueAppend::Status::Appended:
        remote::ReloadCatalogue(*m_pDlg);
        Say(QStringLiteral("「%1」をCSVﾌｧｲﾙ%2に追加しました").arg(name, file));
        break;
    case CatalogueAppend::Status::NameNotEncodable:
        Say(QStringLiteral("登録名にCSVﾌｧｲﾙ%1の文字コード（%2）で書けない文字があります。"
                           "登録名を直してから「追加」を押してください")
                .arg(file, encoding),
            true);
        MarkUnwritable(result.encoding);
        break;
    case CatalogueAppend::Status::NameNotWritable:
        Say(QStringLiteral("この登録名はCSVﾌｧｲﾙに書けません（空か、\",\" を含みます）。"
                           "登録名を直してから「追加」を押してください"),
            true);
        m_entryName->setFocus();
        break;
    case CatalogueAppend::Status::Full:
        ShowMessageBox(this, QStringLiteral("CSVﾌｧｲﾙ%1には%2局までしか登録できません。"
                                            "放送局を減らしてから追加してください")
                                 .arg(file, QString::number(kCatalogueMaxRows)));
        break;
    case CatalogueAppend::Status::NotACatalogue:
        ShowMessageBox(this, QStringLiteral("CSVﾌｧｲﾙ%1は3列(no,name,url)にしてください").arg(file));
        break;
    case CatalogueAppend::Status::Workbook:
        ShowMessageBox(this, QStringLiteral("ﾜｰｸﾌﾞｯｸ%1には追加できません").arg(file));
        break;
    case CatalogueAppend::Status::WriteFailed:
        ShowMessageBox(this, QStringLiteral("CSVﾌｧｲﾙ%1に書き込めません（%2）")
                                 .arg(file, QString::fromLocal8Bit(result.error.c_str())));
        break;
    }
}

void CDirectoryWindow::MarkUnwritable(TextEncoding enc) {
    const QString text = m_entryName->text();
    std::string bytes;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        if (!FromUtf8(text.mid(i, length).toStdString(), enc, bytes)) {
            m_entryName->setSelection(static_cast<int>(i), static_cast<int>(length));
            break;
        }
        i += length;
    }
    m_entryName->setFocus();
}

void CDirectoryWindow::Say(const QString& text, bool problem) {
    m_status->setText(text);
    m_status->setStyleSheet(problem ? QStringLiteral("color: #b00020;") : QString());
}

} // namespace didira
