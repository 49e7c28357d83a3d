#include "tools/pictool/parallel.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "tools/pictool/signals.h"

namespace pictool {

int jobCount(int requested, size_t items) {
  const int processors = int(std::max(1u, std::thread::hardware_concurrency()));
  const int wanted = requested > 0 ? requested : processors;
  return int(std::max<size_t>(1, std::min(size_t(wanted), items)));
}

void runInParallel(size_t count, int jobs, const std::function<void(size_t)>& work) {
  if (jobs <= 1) {
    for (size_t i = 0; i < count; ++i) work(i);
    return;
  }
  std::atomic<size_t> next{0};
  std::atomic<int> running{jobs};
  std::vector<std::thread> workers;
  const EndingSignalsHeld held;  // on this thread, and on the workers, which inherit it
  for (int j = 0; j < jobs; ++j)
    workers.emplace_back([&] {
      for (size_t i; (i = next++) < count;) work(i);
      --running;
    });
  waitEndingSignals([&] { return running.load() == 0; });
  for (std::thread& worker : workers) worker.join();
}

}  // namespace pictool
