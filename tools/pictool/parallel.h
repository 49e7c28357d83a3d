// Work spread over threads: conversions and descriptions of many files at once.
#ifndef TOOLS_PICTOOL_PARALLEL_H
#define TOOLS_PICTOOL_PARALLEL_H

#include <cstddef>
#include <functional>

namespace pictool {

// The threads for `requested` jobs (0: one per processor), never more than `items`.
int jobCount(int requested, size_t items);

// Runs work(i) for every i below `count` on `jobs` threads, each taking the
// next index when it is free (so at most `jobs` items are in work at once),
// and returns when all are done. The ending signals are held on every thread
// meanwhile; the calling thread waits for them (waitEndingSignals).
void runInParallel(size_t count, int jobs, const std::function<void(size_t)>& work);

}  // namespace pictool

#endif
