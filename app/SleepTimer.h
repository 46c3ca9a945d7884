#pragma once
// The sleep timer: after the chosen time the sound fades out and the station
// is cancelled, as "Cancel" does.
//
// States: Off -> Counting (Start) -> Fading (time is up) -> Off (cancelled).
// Start while counting or fading begins again from the new time, and Stop
// turns it off; either undoes a fade under way (gain 1).
//
// Time asleep counts (the clock is the boot time, which goes on through a
// suspend): after a wake (CheckNow), a count that ran out meanwhile cancels
// at once, with no fade, and one that did not goes on with what is left.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>

namespace didira {

class CSleepTimer final : public QObject {
    Q_OBJECT
public:
    enum class State { Off, Counting, Fading };

    // What the timer acts on: the gain of the sound (1.0 the listener's own
    // level, 0.0 silent) and the cancel of the station.
    struct Target {
        std::function<void(double gain)> setGain;
        std::function<void()> cancel;
    };

    // The time the timer counts by: time since boot, suspends included.
    using Clock = std::function<std::chrono::nanoseconds()>;
    static std::chrono::nanoseconds BootTime();

    static constexpr std::chrono::milliseconds kDefaultFade{5000};

    explicit CSleepTimer(Target target, std::chrono::milliseconds fade = kDefaultFade,
                         QObject* parent = nullptr, Clock clock = &BootTime);
    Q_DISABLE_COPY_MOVE(CSleepTimer)

    // Counts down from after; zero turns the timer off.
    void Start(std::chrono::seconds after);
    void Stop();
    // Looks at the clock now (after a wake from sleep, when the wait in
    // progress, which counts without the time asleep, ends late).
    void CheckNow();

    State GetState() const { return m_state; }
    // Whole seconds left until the fade begins (rounded up); 0 unless counting.
    std::uint64_t RemainingSeconds() const;

signals:
    // The state changed, or the timer was started again.
    void changed();

private:
    void OnTick();
    void SetState(State state);
    std::chrono::nanoseconds Left() const;

    Target m_target;
    std::chrono::milliseconds m_fade;
    Clock m_clock;
    State m_state = State::Off;
    std::chrono::nanoseconds m_deadline{}; // end of the count, then end of the fade
    QTimer m_tick;
};

} // namespace didira
