#pragma once
// The state of a pipeline's runs that its bus handler, its probes (as their
// ProbeContext) and its state worker share with it: where the messages go,
// which run the pipeline carries, and the probes' part. Any of them may still
// run while the pipeline object goes away, so it is shared.

#include "player/probes/ProbeContext.h"

#include <atomic>

class QObject;
typedef struct _GstObject GstObject;

namespace didira {

struct PipelineRun : ProbeContext {
    // Cleared (under mutex) before the pipeline object goes away or gives
    // this pipeline up.
    QObject* target = nullptr;
    GstObject* pipeline = nullptr;
    // The run the pipeline is carrying now, stamped on its messages; 0 while
    // it is torn down or has not started. Set by the state worker only.
    std::atomic<quint64> run{0};
};

} // namespace didira
