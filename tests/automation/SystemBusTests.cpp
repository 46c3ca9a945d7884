// Sleep, idle and connectivity through logind and NetworkManager stand-ins
// (python3-dbusmock's templates) on a private bus used as the system bus.
#include "PrivateBus.h"
#include "app/NetworkWatch.h"
#include "app/SleepTimer.h"
#include "app/SleepWatch.h"
#include "control/PlayerStates.h"
#include "support/TestSupport.h"
#include "ui/NowPlaying.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace didira {
namespace {

using test::WaitUntil;

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kNm = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNmPath = QStringLiteral("/org/freedesktop/NetworkManager");

class SystemBus : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bus.IsRunning());
        system = m_bus.Connect(QStringLiteral("system"));
        QProcessEnvironment env = m_bus.Environment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_bus.Address());
        logind = std::make_unique<test::Mock>(env, QStringList{"-s", "-t", "logind"});
        nm = std::make_unique<test::Mock>(env, QStringList{"-s", "-t", "networkmanager"});
        ASSERT_TRUE(WaitUntil(
            [&] { return test::NameHasOwner(system, kLogind) && test::NameHasOwner(system, kNm); },
            std::chrono::seconds(30)))
            << "python3-dbusmock did not come up";
    }

    void CallMock(const QString& service, const QString& path, const QString& method,
                  const QVariantList& args) {
        test::Call(system, service, path, QStringLiteral("org.freedesktop.DBus.Mock"), method,
                   args);
    }
    void PrepareForSleep(bool sleeping) {
        CallMock(kLogind, kLogindPath, QStringLiteral("EmitSignal"),
                 {QStringLiteral("org.freedesktop.login1.Manager"),
                  QStringLiteral("PrepareForSleep"), QStringLiteral("b"),
                  QVariantList{QVariant::fromValue(QDBusVariant(sleeping))}});
    }
    void SetNetwork(CNetworkWatch::Level level) {
        CallMock(kNm, kNmPath, QStringLiteral("SetGlobalConnectionState"),
                 {QVariant::fromValue(static_cast<uint>(level))});
    }
    // The locks logind holds, as "what/mode".
    QStringList Inhibitors() {
        const QDBusMessage reply = test::Call(system, kLogind, kLogindPath,
                                              QStringLiteral("org.freedesktop.login1.Manager"),
                                              QStringLiteral("ListInhibitors"));
        QStringList locks;
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {QStringLiteral("error: ") + reply.errorMessage()};
        const QDBusArgument arg = reply.arguments().value(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            QString what, who, why, mode;
            uint uid = 0, pid = 0;
            arg.beginStructure();
            arg >> what >> who >> why >> mode >> uid >> pid;
            arg.endStructure();
            locks << what + u'/' + mode;
        }
        arg.endArray();
        locks.sort();
        return locks;
    }
    bool InhibitorsAre(const QStringList& expected) {
        return WaitUntil([&] { return Inhibitors() == expected; }, std::chrono::seconds(10));
    }

    test::PrivateBus m_bus;
    QDBusConnection system{QString()};
    std::unique_ptr<test::Mock> logind;
    std::unique_ptr<test::Mock> nm;
};

TEST_F(SystemBus, LocksFollowPlaybackAndSleepClosesAndReopensTheStream) {
    const struct {
        bool blockIdle;
        QStringList held;
    } cases[] = {
        {true, {QStringLiteral("idle/block"), QStringLiteral("sleep/delay")}},
        {false, {QStringLiteral("sleep/delay")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.blockIdle ? "idle blocked" : "idle allowed");
        CNowPlaying now;
        CSleepWatch watch(now, system, c.blockIdle);
        QSignalSpy slept(&watch, &CSleepWatch::aboutToSleep);
        QSignalSpy woke(&watch, &CSleepWatch::wokeUp);
        EXPECT_TRUE(InhibitorsAre({}));

        now.Open(QStringLiteral("Test"), QStringLiteral("http://127.0.0.1:9/"), 0);
        EXPECT_TRUE(InhibitorsAre(c.held)) << Inhibitors().join(u' ').toStdString();

        PrepareForSleep(true);
        ASSERT_TRUE(WaitUntil([&] { return slept.count() == 1; }));
        EXPECT_TRUE(InhibitorsAre({})) << "the delay lock must go once the stream is closed";
        EXPECT_EQ(woke.count(), 0);

        PrepareForSleep(false);
        ASSERT_TRUE(WaitUntil([&] { return woke.count() == 1; }));
        EXPECT_TRUE(InhibitorsAre(c.held)) << "taken again after the wake";

        now.Stop();
        EXPECT_TRUE(InhibitorsAre({}));
        // Nothing playing: sleep and wake ask nothing of the player.
        PrepareForSleep(true);
        PrepareForSleep(false);
        test::Pump(std::chrono::milliseconds(300));
        EXPECT_EQ(slept.count(), 1);
        EXPECT_EQ(woke.count(), 1);
    }
}

TEST_F(SystemBus, TheIdleLockIsHeldWhileSoundIsHeardAndForAWhileOfWaiting) {
    using namespace std::chrono_literals;
    constexpr auto kGrace = 1500ms;
    CNowPlaying now;
    CSleepWatch watch(now, system, true, nullptr, kGrace);
    const QStringList both{QStringLiteral("idle/block"), QStringLiteral("sleep/delay")};
    const QStringList sleepOnly{QStringLiteral("sleep/delay")};
    const auto state = [&](PlayState play, OpenState open) {
        return [&now, play, open] { now.SetPlayerState(ToNumber(play), ToNumber(open)); };
    };
    const struct {
        const char* what;
        std::function<void()> act;
        QStringList held;      // at once
        QStringList afterWait; // once the grace has passed
    } steps[] = {
        {"a first open connects",
         [&] { now.Open(QStringLiteral("Test"), QStringLiteral("http://127.0.0.1:9/"), 0); }, both,
         sleepOnly},
        {"sound at last", state(PlayState::Playing, OpenState::Open), both, both},
        {"an outage", state(PlayState::Waiting, OpenState::Connecting), both, sleepOnly},
        {"reconnecting on", state(PlayState::Waiting, OpenState::Opening), sleepOnly, sleepOnly},
        {"sound is back", state(PlayState::Playing, OpenState::Open), both, both},
        {"paused", state(PlayState::Paused, OpenState::Open), {}, {}},
        {"stopped", [&] { now.Stop(); }, {}, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        QElapsedTimer clock;
        clock.start();
        step.act();
        EXPECT_TRUE(InhibitorsAre(step.held)) << Inhibitors().join(u' ').toStdString();
        if (step.afterWait == step.held) {
            test::Pump(kGrace + 300ms);
            EXPECT_EQ(Inhibitors(), step.held);
            continue;
        }
        EXPECT_TRUE(InhibitorsAre(step.afterWait)) << Inhibitors().join(u' ').toStdString();
        EXPECT_GE(clock.elapsed(), kGrace.count() * 9 / 10); // a coarse timer
        RecordProperty("idle_lock_into_wait_ms", static_cast<int>(clock.elapsed()));
    }
}

TEST_F(SystemBus, ASleepTimerCountsTheTimeAsleep) {
    using namespace std::chrono_literals;
    const struct {
        std::chrono::minutes timer, asleep;
        bool stopped;              // at the wake, before the station comes back
        std::chrono::seconds left; // else
    } cases[] = {
        {30min, 120min, true, 0s},
        {30min, 31min, true, 0s},
        {30min, 10min, false, 20min},
        {30min, 0min, false, 30min},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asleep.count());
        std::chrono::nanoseconds boot = 1h;
        QStringList events;
        CSleepTimer timer({[](double) {}, [&] { events << QStringLiteral("cancel"); }}, 5000ms,
                          nullptr, [&] { return boot; });
        CNowPlaying now;
        CSleepWatch watch(now, system, true);
        QObject::connect(&watch, &CSleepWatch::woke, &timer, &CSleepTimer::CheckNow);
        QObject::connect(&watch, &CSleepWatch::wokeUp, &watch,
                         [&] { events << QStringLiteral("woke up"); });
        now.Open(QStringLiteral("Test"), QStringLiteral("http://127.0.0.1:9/"), 0);
        timer.Start(c.timer);

        PrepareForSleep(true);
        ASSERT_TRUE(WaitUntil([&] { return watch.IsSleeping(); }));
        boot += c.asleep;
        PrepareForSleep(false);
        ASSERT_TRUE(WaitUntil([&] { return !watch.IsSleeping() && !events.isEmpty(); }));
        if (c.stopped) {
            EXPECT_EQ(events, (QStringList{"cancel", "woke up"}));
            EXPECT_EQ(timer.GetState(), CSleepTimer::State::Off);
        } else {
            EXPECT_EQ(events, QStringList{"woke up"});
            EXPECT_EQ(timer.GetState(), CSleepTimer::State::Counting);
            EXPECT_EQ(timer.RemainingSeconds(), static_cast<std::uint64_t>(c.left.count()));
        }
    }
}

TEST_F(SystemBus, NetworkStateChangesAreFollowed) {
    CNetworkWatch watch(system);
    QSignalSpy up(&watch, &CNetworkWatch::connected);
    QSignalSpy down(&watch, &CNetworkWatch::disconnected);
    ASSERT_TRUE(WaitUntil([&] { return up.count() == 1; })) << "the first answer is connected";
    EXPECT_TRUE(watch.IsOnline());

    using L = CNetworkWatch::Level;
    const struct {
        L level;
        bool online;
        int ups, downs; // signals so far
    } steps[] = {
        {L::Disconnected, false, 1, 1},   {L::Connecting, false, 1, 1},
        {L::ConnectedLocal, true, 2, 1},  {L::ConnectedGlobal, true, 3, 1},
        {L::ConnectedSite, true, 3, 1},   {L::Asleep, false, 3, 2},
        {L::ConnectedGlobal, true, 4, 2},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(static_cast<int>(s.level));
        SetNetwork(s.level);
        EXPECT_TRUE(WaitUntil([&] { return up.count() == s.ups && down.count() == s.downs; }))
            << up.count() << " up, " << down.count() << " down";
        EXPECT_EQ(watch.IsOnline(), s.online);
    }

    // NetworkManager gone: nothing to wait for.
    SetNetwork(L::Disconnected);
    ASSERT_TRUE(WaitUntil([&] { return !watch.IsOnline(); }));
    nm->Stop();
    EXPECT_TRUE(WaitUntil([&] { return watch.IsOnline(); }));
}

} // namespace
} // namespace didira
