#include "app/SleepTimer.h"

#include <algorithm>
#include <ctime>

namespace didira {

namespace {

using std::chrono::milliseconds;

// A long count is waited for in steps: a timer's wait leaves out time asleep,
// so a wake that nobody tells is noticed within a step.
constexpr milliseconds kLongestWait{std::chrono::seconds(30)};
constexpr milliseconds kFadeStep{100};

} // namespace

std::chrono::nanoseconds CSleepTimer::BootTime() {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

CSleepTimer::CSleepTimer(Target target, milliseconds fade, QObject* parent, Clock clock)
    : QObject(parent), m_target(std::move(target)), m_fade(fade), m_clock(std::move(clock)) {
    m_tick.setSingleShot(true);
    m_tick.setTimerType(Qt::PreciseTimer);
    connect(&m_tick, &QTimer::timeout, this, &CSleepTimer::OnTick);
}

void CSleepTimer::Start(std::chrono::seconds after) {
    if (after.count() <= 0) {
        Stop();
        return;
    }
    if (m_state == State::Fading)
        m_target.setGain(1.0);
    m_deadline = m_clock() + after;
    m_state = State::Counting;
    OnTick();
    emit changed();
}

void CSleepTimer::Stop() {
    m_tick.stop();
    if (m_state == State::Fading)
        m_target.setGain(1.0);
    SetState(State::Off);
}

void CSleepTimer::CheckNow() {
    if (m_state != State::Off)
        OnTick();
}

std::chrono::nanoseconds CSleepTimer::Left() const {
    return std::max(m_deadline - m_clock(), std::chrono::nanoseconds::zero());
}

std::uint64_t CSleepTimer::RemainingSeconds() const {
    if (m_state != State::Counting)
        return 0;
    return static_cast<std::uint64_t>((Left().count() + 999'999'999) / 1'000'000'000);
}

void CSleepTimer::OnTick() {
    // Rounded up, so that a wait never ends just before its time.
    const milliseconds left = std::chrono::ceil<milliseconds>(Left());
    if (m_state == State::Counting) {
        if (left.count() > 0) {
            m_tick.start(std::min(left, kLongestWait));
            return;
        }
        // Run out while the system slept: cancelled at once, the station not
        // heard again.
        const std::chrono::nanoseconds now = m_clock();
        m_deadline = now - m_deadline >= m_fade ? now : now + m_fade;
        SetState(State::Fading);
        OnTick();
        return;
    }
    if (m_state != State::Fading)
        return;
    if (left.count() > 0) {
        m_target.setGain(double(left.count()) / double(std::max<qint64>(1, m_fade.count())));
        m_tick.start(std::min(left, kFadeStep));
        return;
    }
    // Silent, then cancelled; the next station plays at the listener's level.
    m_target.setGain(0.0);
    m_target.cancel();
    m_target.setGain(1.0);
    SetState(State::Off);
}

void CSleepTimer::SetState(State state) {
    if (m_state == state)
        return;
    m_state = state;
    emit changed();
}

} // namespace didira
