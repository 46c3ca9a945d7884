#include "app/SleepTimer.h"

#include <algorithm>

namespace didira {

namespace {

using std::chrono::milliseconds;

// A long count is waited for in steps, as a timer's interval is an int of
// milliseconds.
constexpr milliseconds kLongestWait{std::chrono::hours(1)};
constexpr milliseconds kFadeStep{100};

} // namespace

CSleepTimer::CSleepTimer(Target target, milliseconds fade, QObject* parent)
    : QObject(parent), m_target(std::move(target)), m_fade(fade) {
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
    m_deadline = QDeadlineTimer(after, Qt::PreciseTimer);
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

std::uint64_t CSleepTimer::RemainingSeconds() const {
    if (m_state != State::Counting)
        return 0;
    const auto left = m_deadline.remainingTimeAsDuration();
    return static_cast<std::uint64_t>((left.count() + 999'999'999) / 1'000'000'000);
}

void CSleepTimer::OnTick() {
    const milliseconds left =
        std::chrono::duration_cast<milliseconds>(m_deadline.remainingTimeAsDuration());
    if (m_state == State::Counting) {
        if (left.count() > 0) {
            m_tick.start(std::min(left, kLongestWait));
            return;
        }
        m_deadline = QDeadlineTimer(m_fade, Qt::PreciseTimer);
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
