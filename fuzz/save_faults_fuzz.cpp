// Loads bytes through the whole driver chain and saves a picture that loads
// through every writer that takes it, once cleanly and then while every n-th
// allocation, or every n-th write of the file table, fails. A save under a
// plan must end in a status; when one of its writes failed the status must be
// an error, and an OK save must give exactly the bytes of the clean save.
// Nothing may crash, leak or stay open.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "fault_injection.h"
#include "fuzz_load.h"
#include "fuzz_picture.h"
#include "picture/core/extra_drivers.h"

namespace {

const int64_t maxSavePixels = int64_t(1) << 12;
const int64_t maxAllocationPlans = 16;

struct Save {
  int status = PIC_ERR_WRITE;
  std::vector<uint8_t> bytes;
};

Save saveInWindow(const FuzzPicture& picture, int format, const FaultPlan& plan) {
  std::vector<uint8_t> file(size_t(picture.width) * size_t(picture.height) * 16 + 65536, 0);
  char name[64];
  picMemoryFileName(name, sizeof name, file.data(), int(file.size()));
  faultsSetPlan(plan);
  Save save;
  {
    FaultWindow window;
    save.status = fuzzSavePicture(picture, format, name);
  }
  if (faultsCounts().opens != faultsCounts().closes || !fuzzIsStatus(save.status)) std::abort();
  if (save.status == PIC_OK) save.bytes.assign(file.begin(), file.begin() + picMemoryFileLength());
  return save;
}

void saveUnderFaults(const FuzzPicture& picture, int driver, int compression, int choice) {
  int format = driver | compression;
  Save clean = saveInWindow(picture, format, {});
  if (clean.status == PIC_ERR_COMPRESSION) clean = saveInWindow(picture, format = driver, {});
  if (clean.status != PIC_OK) return;  // this writer does not take the picture
  const FaultCounts seen = faultsCounts();
  std::vector<FaultPlan> plans;
  for (int every = 1; every <= std::min(seen.allocations, maxAllocationPlans); ++every)
    plans.push_back({every, 0, 0});
  if (seen.writes > 0) {
    plans.push_back({0, 0, 1});
    plans.push_back({0, 0, 1 + int(choice % seen.writes)});
    plans.push_back({0, 0, int(seen.writes)});  // only the last write fails
  }
  for (const FaultPlan& plan : plans) {
    const Save faulty = saveInWindow(picture, format, plan);
    if (faulty.status == PIC_OK && (faultsCounts().failedWrites > 0 || faulty.bytes != clean.bytes))
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int drivers = picRegisterExtraDrivers() + PIC_EXTRA_PNG + 1;
  if (size == 0 || size > fuzzMaxInput) return 0;
  MemoryInput input(data, size, faultsUseMemoryFiles);
  faultsSetPlan({});
  FuzzPicture picture;
  if (!fuzzLoadPicture(input.name(), maxSavePixels, &picture)) return 0;
  const int choice = data[size - 1] | (size > 1 ? data[size - 2] << 8 : 0);
  const int compression = choice & 1 ? PIC_COMP_RLE : PIC_COMP_NONE;
  for (int driver = 0; driver < drivers; ++driver) saveUnderFaults(picture, driver, compression, choice);
  return 0;
}
