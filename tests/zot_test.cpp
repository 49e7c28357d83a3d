// The ZOT text format: hand-written files, round trips on disk and in memory.
#include <gtest/gtest.h>

#include <string>

#include "picture/core/picture.h"
#include "support/image_peer.h"

namespace {

TEST(Zot, WritesTheDocumentedTextForATwoByTwoImage) {
  // Bottom row (row 0) holds 1 0, top row holds 0 1.
  const uint8_t indices[] = {1, 0, 0, 1};
  const int32_t map[] = {0x0000ff, 0xff8000};
  const std::string path = tempPath("two.zot");
  ASSERT_EQ(PIC_OK, picSaveMap(2, 2, PIC_DRIVER_ZOT, indices, 2, map, path.c_str()));
  const std::vector<uint8_t> bytes = readFileBytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "ZOTImage = IMAGE[\n"
            "0 = \"0 0 255\",\n"
            "1 = \"255 128 0\"]\n"
            "(2,2\n"
            ",0,1\n"
            ",1,0\n"
            ")");
}

}  // namespace
