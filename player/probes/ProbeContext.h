#pragma once
// What the pad probes of one pipeline share with it: the time shift that taps
// each run's network source, and the counters the probes keep. The probes run
// on streaming threads and may outlive the pipeline object, so the context is
// shared; timeShift is read and written under mutex, the counters are atomic.

#include <QtGlobal>
#include <atomic>
#include <memory>
#include <mutex>

namespace didira {

class TimeShift;

struct ProbeContext {
    std::mutex mutex;
    // Taps the network source of each run from now on (under mutex); none
    // while null.
    std::shared_ptr<TimeShift> timeShift;
    std::atomic<quint64> bytes{0};        // bytes read by the network source in this run
    std::atomic<quint64> audioBuffers{0}; // reached the output, over all runs of this pipeline
};

} // namespace didira
