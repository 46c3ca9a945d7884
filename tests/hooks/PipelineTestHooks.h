#pragma once
// A teardown made to hang on purpose, and the pipeline's state workers
// counted: through the state workers' watcher, installed before main() so
// that every worker of the process is counted.

namespace didira::pipeline_test {

// The next state worker to take its pipeline to NULL waits, on its thread,
// just before it does, until ReleaseTeardowns(); later ones pass.
void HoldNextTeardown();
void ReleaseTeardowns();
int HeldTeardowns();

// State worker threads still running, those of pipelines given up included.
int RunningStateWorkers();

} // namespace didira::pipeline_test
