#include "player/StallWatchdog.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace didira;
using namespace didira::test;
using namespace std::chrono_literals;

TEST(StallWatchdog, ReportsOnceWhenProgressStopsAndNeverWhileItGoesOnOrIsDisarmed) {
    quint64 counter = 0;
    StallWatchdog watchdog([&] { return counter; });
    watchdog.SetTimeout(300);
    int stalls = 0;
    QObject::connect(&watchdog, &StallWatchdog::Stalled, &watchdog, [&] { ++stalls; });

    // Progress keeps it quiet for several timeouts.
    watchdog.Arm();
    WaitUntil(
        [&] {
            ++counter;
            return false;
        },
        1s);
    EXPECT_EQ(stalls, 0);

    // Without progress it reports, once, and disarms itself.
    ASSERT_TRUE(WaitUntil([&] { return stalls > 0; }, 3s));
    EXPECT_FALSE(watchdog.IsArmed());
    Pump(700ms);
    EXPECT_EQ(stalls, 1);

    // Armed again it measures from then; disarmed it says nothing.
    watchdog.Arm();
    Pump(100ms);
    watchdog.Disarm();
    Pump(700ms);
    EXPECT_EQ(stalls, 1);
}
