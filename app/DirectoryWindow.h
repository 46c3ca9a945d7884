#pragma once
// The "放送局を探す…" window: searches the community station directory by
// name, tag, country and language (most votes first), lists what it finds
// with codec and bitrate, plays a found station through the dialog's own
// player ("試聴", which also counts the click) and adds it to the dialog's
// catalogue ("追加", under the name in "登録名", which the listener may edit
// first). What goes wrong is said in the window's status line; the
// catalogue's refusals in message boxes, as the catalogue's own are.

#include "app/DirectoryClient.h"
#include "catalogue/CatalogueAppend.h"
#include "catalogue/TextCodec.h"

#include <QPointer>
#include <QThreadPool>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QVBoxLayout;

namespace didira {

class CVavarozDlg;

class CDirectoryWindow final : public QWidget {
    Q_OBJECT
public:
    // dlg must be created; the window does nothing more once it has gone.
    CDirectoryWindow(CVavarozDlg& dlg, const QUrl& base, QWidget* parent = nullptr);
    ~CDirectoryWindow() override;
    Q_DISABLE_COPY_MOVE(CDirectoryWindow)

    CDirectoryClient& Client() { return m_client; }
    // The stations listed, by row.
    const QList<DirectoryStation>& Stations() const { return m_stations; }

    void Search();
    void Listen();
    // Adds the selected station under the entry name; done (and told) when
    // the window says so, the button enabled again.
    void Add();

private:
    void BuildSearch(QVBoxLayout& layout);
    void BuildResults(QVBoxLayout& layout);
    void BuildActions(QVBoxLayout& layout);
    QLineEdit* AddField(const QString& label, const QString& name, QWidget* row);
    void OnFound(const QList<DirectoryStation>& stations, const QString& note);
    void OnFailed(CDirectoryClient::Failure failure, const QString& reason);
    void OnSelection();
    void OnAdded(const CatalogueAppend& result, const QString& name, const QString& file);
    // The selected row of the stations; -1 when none is.
    int SelectedRow() const;
    // The selected station; null when no row is.
    const DirectoryStation* Selected() const;
    void Say(const QString& text, bool problem = false);
    // Selects the first character of the entry name that enc cannot hold.
    void MarkUnwritable(TextEncoding enc);

    QPointer<CVavarozDlg> m_pDlg;
    CDirectoryClient m_client;
    QList<DirectoryStation> m_stations;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_tag = nullptr;
    QLineEdit* m_country = nullptr;
    QLineEdit* m_language = nullptr;
    QPushButton* m_search = nullptr;
    QTableWidget* m_results = nullptr;
    QLineEdit* m_entryName = nullptr; // "登録名": the name added to the catalogue
    QPushButton* m_listen = nullptr;
    QPushButton* m_add = nullptr;
    QLabel* m_status = nullptr;
    int m_nEntryRow = -1;   // the station whose name "登録名" holds
    bool m_bAdding = false; // a write on m_writer
    QThreadPool m_writer;
};

} // namespace didira
