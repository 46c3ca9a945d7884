#include "app/RecentSongsMenu.h"

#include "control/SongHistory.h"
#include "ui/HistoryWindow.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QMenu>

namespace didira {

namespace {

// The time of an entry as a menu shows it: the time of day today, with the
// date before.
QString ShortTime(qint64 heardMs) {
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(heardMs);
    return when.date() == QDate::currentDate() ? when.toString(QStringLiteral("HH:mm"))
                                               : when.toString(QStringLiteral("M/d HH:mm"));
}

// A text cut to what a menu item shows well; the clipboard gets it whole.
QString Short(const QString& text) {
    constexpr qsizetype kLongest = 60;
    return text.size() <= kLongest ? text : text.left(kLongest - 1) + u'…';
}

QAction* LastSeparator(const QMenu& menu) {
    const QList<QAction*> actions = menu.actions();
    for (auto it = actions.rbegin(); it != actions.rend(); ++it)
        if ((*it)->isSeparator())
            return *it;
    return nullptr;
}

} // namespace

CRecentSongsMenu::CRecentSongsMenu(const CSongHistory& history, QMenu& trayMenu,
                                   std::function<void()> openWindow, QObject* parent)
    : QObject(parent), m_history(history) {
    m_recent = new QMenu(QStringLiteral("最近の曲"), &trayMenu);
    m_window = new QAction(QStringLiteral("曲の履歴…"), &trayMenu);
    QAction* before = LastSeparator(trayMenu);
    trayMenu.insertMenu(before, m_recent);
    trayMenu.insertAction(before, m_window);
    connect(m_window, &QAction::triggered, this, [open = std::move(openWindow)] {
        if (open)
            open();
    });
    connect(m_recent, &QMenu::aboutToShow, this, &CRecentSongsMenu::Fill);
    connect(&history, &CSongHistory::entryAdded, this, &CRecentSongsMenu::Fill);
    connect(&history, &CSongHistory::entriesReset, this, &CRecentSongsMenu::Fill);
    Fill();
}

CRecentSongsMenu::~CRecentSongsMenu() = default;

void CRecentSongsMenu::Fill() {
    m_recent->clear();
    const std::vector<HeardEntry> newest = m_history.Newest(kShown);
    for (const HeardEntry& entry : newest) {
        // "&" marks a mnemonic in a menu text.
        QString text = QStringLiteral("%1 — %2  (%3)")
                           .arg(Short(entry.title), Short(entry.station), ShortTime(entry.heardMs));
        QAction* action = m_recent->addAction(text.replace(u'&', QStringLiteral("&&")));
        const QString copy = CopyText(entry);
        connect(action, &QAction::triggered, this,
                [copy] { QGuiApplication::clipboard()->setText(copy); });
    }
    if (newest.empty())
        m_recent->addAction(QStringLiteral("（まだありません）"))->setEnabled(false);
}

} // namespace didira
