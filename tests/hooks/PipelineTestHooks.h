#pragma once
// A teardown made to hang on purpose, and the pipeline's state workers
// counted: through the state workers' watcher, installed before main() so
// that every worker of the process is counted.

namespace didira::pipeline_test {

// hook is called by every state worker just before it takes its pipeline to
// NULL, on the worker's thread, and may block there for as long as it likes;
// nullptr (the default) for none.
void SetBeforeTeardown(void (*hook)());

// State worker threads still running, those of pipelines given up included.
int RunningStateWorkers();

} // namespace didira::pipeline_test
