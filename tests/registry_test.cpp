// The driver table: the built-in drivers in their order from the start,
// application drivers behind them, the full table, and the callbacks' control.
// Each case runs in a fresh process, since the table lives for the whole process.
#include <gtest/gtest.h>

#include <cstdlib>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"
#include "picture/core/picture.h"
#include "picture/core/registry.h"

namespace {

picDriver* newEmptyDriver() { return new picDriver{}; }

class Registry : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// The built-in drivers are the format list's first, in its order, each
// record carrying its index; the extra ones are not there until registered.
void checkFirstUse() {
  int count = 0;
  const picFormatInfo* const* formats = picFormatList(&count);
  if (picDriverCount() != PIC_BUILTIN_DRIVERS) std::exit(2);
  for (int i = 0; i < count; ++i) {
    if (formats[i]->builtIn != (i < PIC_BUILTIN_DRIVERS)) std::exit(30 + i);
    if (i < PIC_BUILTIN_DRIVERS && (picDriverAt(i) != formats[i]->driver() || picDriverAt(i)->index != i))
      std::exit(3 + i);
  }
  picImageInfo("/no/such/file", nullptr, nullptr, nullptr, nullptr);
  std::exit(picDriverCount() == 9 ? 0 : 20);
}

TEST_F(Registry, TheNineBuiltInDriversAreThereInOrderFromTheStart) {
  EXPECT_EXIT(checkFirstUse(), testing::ExitedWithCode(0), "");
}

void checkApplicationDrivers() {
  if (picRegisterDriver(newEmptyDriver()) != 9) std::exit(1);
  picDriver* second = newEmptyDriver();
  if (picRegisterDriver(second) != 10 || second->index != 10) std::exit(2);
  for (int expected = 11; expected < PIC_MAX_DRIVERS - 1; ++expected)
    if (picRegisterDriver(newEmptyDriver()) != expected) std::exit(3);
  picDriver* refused = newEmptyDriver();
  refused->index = 77;
  if (picRegisterDriver(refused) != -1 || refused->index != 77) std::exit(4);
  if (picDriverCount() != PIC_MAX_DRIVERS - 1) std::exit(5);
  std::exit(picRegisterDriver(nullptr) == -1 ? 0 : 6);
}

TEST_F(Registry, ApplicationDriversFollowTheBuiltInsUntilTheTableIsFull) {
  EXPECT_EXIT(checkApplicationDrivers(), testing::ExitedWithCode(0), "");
}

int noProgress(const char*, int, int) { return 0; }

TEST_F(Registry, ControlInstallsCallbacksOrForwardsToADriver) {
  EXPECT_EQ(1, picDriverControl(reinterpret_cast<void*>(noProgress), PIC_CONTROL_PROGRESS, -1));
  EXPECT_EQ(reinterpret_cast<void*>(picGetProgressCallback()), reinterpret_cast<void*>(noProgress));
  EXPECT_EQ(0, picDriverControl(nullptr, 2, -1));
  EXPECT_EQ(reinterpret_cast<void*>(picGetProgressCallback()), reinterpret_cast<void*>(noProgress));
  EXPECT_EQ(1, picDriverControl(nullptr, PIC_CONTROL_PROGRESS, -1));
  EXPECT_EQ(picGetProgressCallback(), nullptr);
  EXPECT_EQ(1, picDriverControl(nullptr, PIC_CONTROL_RESOLUTION, -1));
  picSetProgressCallback(noProgress);
  EXPECT_EQ(reinterpret_cast<void*>(picGetProgressCallback()), reinterpret_cast<void*>(noProgress));
  picSetProgressCallback(nullptr);
  EXPECT_EQ(picGetProgressCallback(), nullptr);
  for (int index = 0; index < PIC_BUILTIN_DRIVERS; ++index)
    EXPECT_EQ(0, picDriverControl(nullptr, 3, index)) << index;
  EXPECT_EQ(0, picDriverControl(nullptr, 3, 200));
}

}  // namespace
