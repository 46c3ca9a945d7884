#pragma once
// For tests only, never called by the program: a way to make the pipeline's
// teardown hang on purpose, and to see its state workers come and go.

namespace didira::pipeline_test {

// hook is called by every state worker just before it takes its pipeline to
// NULL, on the worker's thread, and may block there for as long as it likes;
// nullptr (the default) for none.
void SetBeforeTeardown(void (*hook)());

// State worker threads still running, those of pipelines given up included.
int RunningStateWorkers();

} // namespace didira::pipeline_test
