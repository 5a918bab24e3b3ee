#pragma once

#include <functional>
#include <vector>

// Runs jobs on the calling thread and `threads` - 1 more, each job once, in list order as
// threads come free; rethrows the first failure once all have stopped (jobs after a failure are
// skipped). Jobs must not share state without their own locks. Called from the publishing thread.
void RunInParallel(const std::vector<std::function<void()>>& jobs, unsigned threads);
