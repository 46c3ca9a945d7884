// History on org.didira.Didira1, on a private bus: a call made while the
// history's file is still being read (here held locked by another
// connection for a moment) is answered once it is read, with what it holds.
#include "app/DidiraService.h"
#include "app/SleepTimer.h"
#include "automation/PrivateBus.h"
#include "control/SongHistory.h"
#include "support/TestSupport.h"

#include <QDBusArgument>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace didira {
namespace {

using namespace std::chrono_literals;

QStringList Titles(const QDBusMessage& reply) {
    QStringList titles;
    const auto arg = reply.arguments().value(0).value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        QString time, station, title;
        arg.beginStructure();
        arg >> time >> station >> title;
        arg.endStructure();
        titles << title;
    }
    arg.endArray();
    return titles;
}

TEST(HistoryOnTheBus, ACallWhileTheFileIsReadIsAnsweredOnceItIsRead) {
    test::BusPair pair;
    ASSERT_TRUE(pair.bus.IsRunning());
    const QString path = test::TempDir() + u"/history.sqlite"_qs;
    CSongHistory::Options options;
    options.busyTimeoutMs = 20000;
    {
        CSongHistory history(path, options);
        ASSERT_TRUE(test::WaitUntil(
            [&] { return history.CurrentState() == CSongHistory::State::Open; }, 10s));
        history.Heard(u"S"_qs, u"one"_qs);
        history.Heard(u"S"_qs, u"two"_qs);
    }

    QSqlDatabase lock = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"lock"_qs);
    lock.setDatabaseName(path);
    ASSERT_TRUE(lock.open());
    ASSERT_TRUE(QSqlQuery(lock).exec(u"BEGIN EXCLUSIVE"_qs));
    CSongHistory history(path, options);
    CSleepTimer sleep({[](double) {}, [] {}});
    CDidiraService service(sleep, nullptr, pair.server);
    service.ServeHistory(history);
    ASSERT_TRUE(service.Register());
    QTimer::singleShot(300ms, [&] { QSqlQuery(lock).exec(u"ROLLBACK"_qs); });
    const QDBusMessage reply =
        test::Call(pair.client, pair.server.baseService(), QString::fromLatin1(kDidiraPath),
                   QString::fromLatin1(kDidiraInterface), u"History"_qs, {10u});
    EXPECT_EQ(history.CurrentState(), CSongHistory::State::Open);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.signature(), u"a(sss)"_qs);
    EXPECT_EQ(Titles(reply), (QStringList{u"two"_qs, u"one"_qs}));
    lock.close();
    lock = QSqlDatabase();
    QSqlDatabase::removeDatabase(u"lock"_qs);
}

} // namespace
} // namespace didira
