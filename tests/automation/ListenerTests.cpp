// The listener's tools beside the dialog, on the session bus of the suite's
// own bus daemon: Didira's bus interface and its sleep timer, and the tray
// icon registering with a StatusNotifierWatcher and exporting its menu.
#include "PrivateBus.h"
#include "app/DidiraService.h"
#include "app/SleepTimer.h"
#include "app/TrayIcon.h"
#include "support/DialogFixture.h"
#include "ui/DlgListener.h"
#include "ui/DlgRemote.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QMutex>
#include <QThread>

namespace didira {
namespace {

using test::Call;
using test::WaitUntil;

class Listener : public test::DialogFixture {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        WriteCatalogue("1,Station A,http://127.0.0.1:9/a.mp3\r\n"
                       "2,Station B,http://127.0.0.1:9/b.ogg\r\n");
        Make();
        ASSERT_TRUE(created);
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << "the suite runs under a bus daemon of its own";
        client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "listener-client");
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus("listener-client");
        DialogFixture::TearDown();
    }

    QDBusConnection client{QString()};
};

// ---- Didira's bus interface and the sleep timer ----------------------------

class DidiraBus : public Listener {
protected:
    void SetUp() override {
        Listener::SetUp();
        if (HasFatalFailure())
            return;
        sleep = std::make_unique<CSleepTimer>(
            CSleepTimer::Target{[this](double g) { remote::SetFadeGain(*dlg, g); },
                                [this] { remote::Stop(*dlg); }},
            std::chrono::milliseconds(600));
        service =
            std::make_unique<CDidiraService>(*sleep, dlg.get(), QDBusConnection::sessionBus());
        ASSERT_TRUE(service->Register());
    }
    void TearDown() override {
        service.reset();
        sleep.reset();
        Listener::TearDown();
    }
    QDBusMessage Method(const QString& member, const QVariantList& args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(QDBusConnection::sessionBus().baseService(),
                                                        kDidiraPath, kDidiraInterface, member);
        m.setArguments(args);
        return Call(client, m);
    }
    uint SleepRemaining() {
        QDBusMessage m =
            QDBusMessage::createMethodCall(QDBusConnection::sessionBus().baseService(), kDidiraPath,
                                           "org.freedesktop.DBus.Properties", "Get");
        m.setArguments({QString::fromLatin1(kDidiraInterface), QStringLiteral("SleepRemaining")});
        return Call(client, m).arguments().value(0).value<QDBusVariant>().variant().toUInt();
    }

    std::unique_ptr<CSleepTimer> sleep;
    std::unique_ptr<CDidiraService> service;
};

TEST_F(DidiraBus, WhatThisBuildOrThisPlayerCannotDoIsRefusedNotFaked) {
    const std::pair<const char*, QVariantList> calls[] = {
        {"StartRecording", {}}, {"StopRecording", {}}, {"SaveLast", {20u}}};
    for (const auto& [member, args] : calls) {
        const QDBusMessage reply = Method(QString::fromLatin1(member), args);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << member;
        EXPECT_EQ(reply.errorName(), kDidiraNotAvailable) << member;
    }
    // The recording player keeps no live buffer.
    remote::Step(*dlg, +1);
    for (const char* member : {"Pause", "Resume", "GoLive"})
        EXPECT_EQ(Method(QString::fromLatin1(member)).errorName(), kDidiraNotPlaying) << member;
}

TEST_F(DidiraBus, SleepAfterFadesOutThenCancelsAndRestoresTheLevel) {
    // The longest time a caller can ask for is kept whole, and 0 turns it off.
    ASSERT_EQ(Method("SleepAfter", {0xFFFFFFFFu}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(SleepRemaining(), 0xFFFFFFFFu);
    Method("SleepAfter", {0u});
    EXPECT_EQ(SleepRemaining(), 0u);
    EXPECT_EQ(sleep->GetState(), CSleepTimer::State::Off);

    remote::Step(*dlg, +1); // plays Station A
    remote::Access::VolumeBar(*dlg)->setValue(-300);
    Player().calls.clear();
    ASSERT_EQ(Method("SleepAfter", {1u}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(SleepRemaining(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return !Player().CallsTo({dispid::Stop}).empty(); },
                          std::chrono::seconds(15)));
    EXPECT_EQ(remote::Access::NowPlaying(*dlg).PlaybackStatus(), CNowPlaying::Status::Stopped);

    // Volume puts step down from the listener's level to silence, then Stop,
    // then the level again; the trackbar never moves.
    std::vector<std::int32_t> levels;
    bool stoppedAfterSilence = false;
    for (const auto& call : Player().calls) {
        if (call.id == dispid::Volume && call.kind == InvokeKind::PropertyPut)
            levels.push_back(std::get<std::int32_t>(call.args.at(0)));
        else if (call.id == dispid::Stop)
            stoppedAfterSilence = !levels.empty() && levels.back() == -10000;
    }
    EXPECT_TRUE(stoppedAfterSilence);
    ASSERT_GE(levels.size(), 3u);
    EXPECT_TRUE(std::is_sorted(levels.begin(), levels.end() - 1, std::greater<>()));
    EXPECT_LE(levels.front(), -300);
    EXPECT_EQ(levels.back(), -300);
    EXPECT_EQ(remote::Access::VolumeBar(*dlg)->value(), -300);
}

// ---- The tray icon ----------------------------------------------------------

// A StatusNotifierWatcher with a host, on a thread of its own: the tray asks
// it with blocking calls.
class WatcherStub : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ HostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ Items)
public:
    bool HostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }
    QStringList Items() const {
        QMutexLocker lock(&mutex);
        return items;
    }
    // The item's bus name, once one registered.
    QString Sender() const {
        QMutexLocker lock(&mutex);
        return sender;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
        QMutexLocker lock(&mutex);
        items << service;
        sender = message.service();
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex mutex;
    QStringList items;
    QString sender;
};

struct MenuItem {
    int id = 0;
    QString label;
    bool enabled = true;
    std::vector<MenuItem> children;

    const MenuItem* Find(const QString& text) const {
        if (label == text)
            return this;
        for (const MenuItem& child : children) {
            if (const MenuItem* found = child.Find(text))
                return found;
        }
        return nullptr;
    }
};

// A dbusmenu layout node, (ia{sv}av).
MenuItem ReadLayout(const QDBusArgument& arg) {
    MenuItem item;
    QVariantMap props;
    arg.beginStructure();
    arg >> item.id >> props;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        item.children.push_back(ReadLayout(child.variant().value<QDBusArgument>()));
    }
    arg.endArray();
    arg.endStructure();
    item.label = props.value("label").toString().remove(QLatin1Char('_'));
    item.enabled = props.value("enabled", true).toBool();
    return item;
}

class Tray : public Listener {
protected:
    void SetUp() override {
        Listener::SetUp();
        if (HasFatalFailure())
            return;
        watcherBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "watcher");
        watcher.moveToThread(&watcherThread);
        watcherThread.start();
        bool exported = false;
        QMetaObject::invokeMethod(
            &watcher,
            [&] {
                exported = watcherBus.registerObject("/StatusNotifierWatcher", &watcher,
                                                     QDBusConnection::ExportAllContents);
            },
            Qt::BlockingQueuedConnection);
        ASSERT_TRUE(exported);
        ASSERT_TRUE(watcherBus.registerService("org.kde.StatusNotifierWatcher"));
        sleep = std::make_unique<CSleepTimer>(CSleepTimer::Target{[](double) {}, [] {}});
    }
    void TearDown() override {
        tray.reset();
        sleep.reset();
        QMetaObject::invokeMethod(
            &watcher,
            [&] {
                watcherBus.unregisterObject("/StatusNotifierWatcher");
                watcher.moveToThread(QCoreApplication::instance()->thread());
            },
            Qt::BlockingQueuedConnection);
        watcherThread.quit();
        watcherThread.wait();
        Listener::TearDown();
    }

    MenuItem Layout(const QString& service, const QString& menuPath) {
        QDBusMessage get = QDBusMessage::createMethodCall(service, menuPath,
                                                          "com.canonical.dbusmenu", "GetLayout");
        get.setArguments({0, -1, QStringList()});
        const QDBusMessage reply = Call(client, get);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return ReadLayout(reply.arguments().value(1).value<QDBusArgument>());
    }

    QDBusConnection watcherBus{QString()};
    WatcherStub watcher;
    QThread watcherThread;
    std::unique_ptr<CSleepTimer> sleep;
    std::unique_ptr<CTrayIcon> tray;
};

TEST_F(Tray, RegistersWithTheWatcherAndExportsTheListenersMenu) {
    tray = std::make_unique<CTrayIcon>(*dlg, *sleep);
    tray->Show();
    ASSERT_TRUE(WaitUntil([&] { return !watcher.Sender().isEmpty(); }, std::chrono::seconds(15)));

    QDBusMessage get = QDBusMessage::createMethodCall(watcher.Sender(), "/StatusNotifierItem",
                                                      "org.freedesktop.DBus.Properties", "Get");
    get.setArguments({QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")});
    const QString menuPath = Call(client, get)
                                 .arguments()
                                 .value(0)
                                 .value<QDBusVariant>()
                                 .variant()
                                 .value<QDBusObjectPath>()
                                 .path();
    ASSERT_FALSE(menuPath.isEmpty());
    const MenuItem root = Layout(watcher.Sender(), menuPath);

    // The live buffer's actions are there but disabled; the rest work.
    for (const char* text : {"一時停止", "30秒戻る", "ライブに戻る", "録音", "最後の5分を保存"}) {
        const MenuItem* item = root.Find(QString::fromUtf8(text));
        ASSERT_TRUE(item) << text;
        EXPECT_FALSE(item->enabled) << text;
    }
    for (const char* text :
         {"15分後", "30分後", "60分後", "90分後", "オフ", "Station A", "Station B", "終了"})
        EXPECT_TRUE(root.Find(QString::fromUtf8(text))) << text;

    // A sleep time chosen in the exported menu starts the timer.
    QDBusMessage click = QDBusMessage::createMethodCall(watcher.Sender(), menuPath,
                                                        "com.canonical.dbusmenu", "Event");
    click.setArguments({root.Find(QStringLiteral("30分後"))->id, QStringLiteral("clicked"),
                        QVariant::fromValue(QDBusVariant(0)), 0u});
    Call(client, click);
    ASSERT_TRUE(WaitUntil([&] { return sleep->GetState() == CSleepTimer::State::Counting; }));
    EXPECT_GT(sleep->RemainingSeconds(), 29u * 60u);

    // A station chosen in the menu plays as a click and "Recieve" do.
    click.setArguments({root.Find(QStringLiteral("Station B"))->id, QStringLiteral("clicked"),
                        QVariant::fromValue(QDBusVariant(0)), 0u});
    Call(client, click);
    ASSERT_TRUE(WaitUntil([&] { return !Player().Opened().isEmpty(); }));
    EXPECT_EQ(Player().Opened(), QStringList{"http://127.0.0.1:9/b.ogg"});
    EXPECT_EQ(Field(IDC_RADIOSTATION), "Station B");
}

} // namespace
} // namespace didira

#include "ListenerTests.moc"
#include "ui/DlgAccess.h"
