// Every file kept under tests/data (inputs that once broke a driver or a fuzz
// target, hand-made hostile files, and fuzzing seeds) is offered to the whole
// driver chain, the PNM and PNG drivers registered too, from disk and from
// memory: each must end in a status code, with the same answer both ways. The
// fuzz targets replay the same files through their own checks (FuzzReplay.*).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <vector>

#include "picture/core/picture.h"
#include "support/format_peers.h"
#include "support/image_peer.h"

namespace {

const std::set<int> statuses = {PIC_OK,         PIC_ERR_OPEN, PIC_ERR_READ,       PIC_ERR_WRITE,
                                PIC_ERR_FORMAT, PIC_ERR_DATA, PIC_ERR_COMPRESSION};

// Loads the file the way an application would; returns the info and load statuses.
std::pair<int, int> offer(const std::string& name) {
  int width = 0, height = 0, mode = 0, colours = 0;
  const int info = picImageInfo(name.c_str(), &width, &height, &mode, &colours);
  if (info != PIC_OK || int64_t(width) * height > (1 << 24)) return {info, info};
  const size_t pixels = size_t(width) * size_t(height);
  std::vector<uint8_t> red(pixels), green(pixels), blue(pixels);
  const int load = picLoadRGB(name.c_str(), red.data(), green.data(), blue.data());
  std::vector<int32_t> map(PIC_MAX_COLOURS);
  picLoadMap(name.c_str(), red.data(), map.data());
  return {info, load};
}

TEST(Replay, EverySavedInputEndsInAStatus) {
  ASSERT_EQ(extraDriversIndex(), PIC_BUILTIN_DRIVERS);  // tests/data/pnm and png reach their drivers
  namespace fs = std::filesystem;
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(SOLSYS_TEST_DATA)) {
    if (!entry.is_regular_file() || entry.file_size() == 0) continue;
    const std::string path = entry.path().string();
    ++files;
    const auto fromDisk = offer(path);
    EXPECT_TRUE(statuses.count(fromDisk.first) && statuses.count(fromDisk.second)) << path;

    std::vector<uint8_t> bytes = readFileBytes(path);
    char name[64];
    picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
    picUseMemoryFiles();
    const auto fromMemory = offer(name);
    picUseDiskFiles();
    EXPECT_EQ(fromDisk, fromMemory) << path;
  }
  RecordProperty("files", files);
}

}  // namespace
