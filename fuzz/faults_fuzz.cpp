// Offers bytes to every driver, and to the whole chain, while every n-th
// allocation or every n-th read of the file table fails: each n from 1 up to
// the allocations a clean read made (at most maxAllocationPlans), and read
// plans chosen by the last byte. A faulty read must end in an error status or
// give exactly what the clean read gave; nothing may crash, leak or stay open.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "fault_injection.h"
#include "fuzz_load.h"
#include "picture/core/extra_drivers.h"
#include "picture/core/registry.h"

namespace {

const int64_t maxAllocationPlans = 24;
const int64_t maxPlanPixels = int64_t(1) << 16;  // larger pictures get one plan of each kind

void expectAllClosed() {
  if (faultsCounts().opens != faultsCounts().closes) std::abort();
}

// Reads once cleanly, then under each plan; returns the clean read's counts.
FaultCounts readUnderFaults(picDriver* driver, const char* name, int readChoice) {
  faultsSetPlan({});
  const FuzzRead clean = fuzzReadWithDriver(driver, name);
  const FaultCounts seen = faultsCounts();
  expectAllClosed();
  const bool small = int64_t(clean.width) * clean.height <= maxPlanPixels;
  const int64_t allocationPlans = small ? std::min(seen.allocations, maxAllocationPlans) : 1;
  std::vector<FaultPlan> plans;
  for (int every = 1; every <= allocationPlans; ++every) plans.push_back({every, 0});
  if (seen.reads > 0) {
    plans.push_back({0, 1});
    plans.push_back({0, 1 + int(readChoice % seen.reads)});
    if (small) plans.push_back({0, int(seen.reads)});  // only the last read fails
  }
  for (const FaultPlan& plan : plans) {
    faultsSetPlan(plan);
    const FuzzRead faulty = fuzzReadWithDriver(driver, name);
    expectAllClosed();
    if (!fuzzIsStatus(faulty.status) || (faulty.status == PIC_OK && !(faulty == clean))) std::abort();
  }
  return seen;
}

// The library's operations under the same kinds of plans: statuses only.
void loadUnderFaults(const char* name, const FaultCounts& seen, int readChoice) {
  const std::vector<FaultPlan> plans = {
      {1, 0}, {2, 0}, {3, 0}, {int(1 + readChoice % (seen.allocations + 1)), 0},
      {0, 1}, {0, int(1 + readChoice % (seen.reads + 1))}};
  for (const FaultPlan& plan : plans) {
    faultsSetPlan(plan);
    fuzzLoadThroughLibrary(name);
    expectAllClosed();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int registered = picRegisterExtraDrivers();
  (void)registered;
  if (size == 0 || size > fuzzMaxInput) return 0;
  MemoryInput input(data, size, faultsUseMemoryFiles);
  const int readChoice = data[size - 1] | (size > 1 ? data[size - 2] << 8 : 0);
  FaultCounts most;
  for (int i = 0; i < picDriverCount(); ++i) {
    const FaultCounts seen = readUnderFaults(picDriverAt(i), input.name(), readChoice);
    most.allocations = std::max(most.allocations, seen.allocations);
    most.reads = std::max(most.reads, seen.reads);
  }
  loadUnderFaults(input.name(), most, readChoice);
  faultsSetPlan({});
  return 0;
}
