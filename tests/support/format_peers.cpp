#include "format_peers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "picture/core/picture.h"

namespace {
int decodeCount = 0;
std::string nextPpm() { return tempPath("peer-decode-" + std::to_string(++decodeCount) + ".ppm"); }
}  // namespace

bool pillowDecode(const std::string& path, RgbImage* image) {
  const std::string ppm = nextPpm();
  return runCommand("/usr/bin/python3 -c 'import sys; from PIL import Image; "
                    "Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2], \"PPM\")' '" +
                    path + "' '" + ppm + "'") &&
         readPpm(ppm, image);
}

bool netpbmDecode(const std::string& command, RgbImage* image) {
  const std::string ppm = nextPpm();
  return runCommand("(" + command + ") | pamdepth 255 2>/dev/null | ppmtoppm > '" + ppm + "'") &&
         readPpm(ppm, image);
}

int extraDriversIndex() {
  static const int index = picRegisterExtraDrivers();
  return index;
}

namespace {
// The statuses of describing and loading a file the way an application would.
std::pair<int, int> describeAndLoad(const std::string& name) {
  int width = 0, height = 0;
  const int info = picImageInfo(name.c_str(), &width, &height, nullptr, nullptr);
  if (info != PIC_OK || int64_t(width) * height > (1 << 24)) return {info, info};
  RgbImage image(width, height);
  return {info, picLoadRGB(name.c_str(), image.red.data(), image.green.data(), image.blue.data())};
}
}  // namespace

void expectSavedInputsEndInAStatus(const std::string& folder) {
  const std::set<int> statuses = {PIC_OK, PIC_ERR_READ, PIC_ERR_FORMAT, PIC_ERR_DATA, PIC_ERR_COMPRESSION};
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    ++files;
    const auto fromDisk = describeAndLoad(path);
    EXPECT_TRUE(statuses.count(fromDisk.first) && statuses.count(fromDisk.second));
    const std::vector<uint8_t> bytes = readFileBytes(path);
    char name[64];
    picMemoryFileName(name, sizeof name, const_cast<uint8_t*>(bytes.data()), int(bytes.size()));
    picUseMemoryFiles();
    const auto fromMemory = describeAndLoad(name);
    picUseDiskFiles();
    EXPECT_EQ(fromDisk, fromMemory);
  }
  EXPECT_GT(files, 0);
}
