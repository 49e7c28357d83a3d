// Texture loading: texture sizes and their limits, interleaving and rescaling,
// and loadTexture itself on files made through the picture library.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "nrutil/nrutil.h"
#include "picture/core/picture.h"
#include "support/viewer_harness.h"
#include "viewer/textureLoader.h"
#include "viewer/texturePlan.h"

namespace {

TEST(TexturePlanTest, SidesBecomePowersOfTwoAndCountsMustFit) {
  struct Case {
    int imageWidth, imageHeight;
    int fits;
    int width, height;
    int64_t texelCount;
  };
  const Case cases[] = {
      {256, 256, 1, 256, 256, 196608},
      {512, 256, 1, 512, 256, 393216},
      {257, 512, 1, 512, 512, 786432},
      {300, 200, 1, 512, 256, 393216},
      {1, 1, 1, 1, 1, 3},
      {2, 1, 1, 2, 1, 6},
      {0, 7, 1, 1, 8, 24},  // a zero count goes on to the allocator, which refuses it
      {-1, 4, 0, 0, 0, 0},
      {4, INT_MIN, 0, 0, 0, 0},
      {INT_MAX, 1, 0, 0, 0, 0},          // width * height * 3 does not fit
      {40000, 40000, 0, 0, 0, 0},        // neither does this one
      {20000, 20000, 0, 0, 0, 0},        // the image fits, its 32768 x 32768 texture does not
      {16384, 16384, 1, 16384, 16384, 805306368},
      {(1 << 29) + 1, 1, 0, 0, 0, 0},    // a side of 2^30 texels: 3 * 2^30 bytes do not fit
  };
  for (const Case& c : cases) {
    TexturePlan plan;
    EXPECT_EQ(planTexture(c.imageWidth, c.imageHeight, 0, &plan), c.fits) << c.imageWidth << " x " << c.imageHeight;
    if (!c.fits) continue;
    EXPECT_EQ(plan.width, c.width) << c.imageWidth << " x " << c.imageHeight;
    EXPECT_EQ(plan.height, c.height) << c.imageWidth << " x " << c.imageHeight;
    EXPECT_EQ(plan.texelCount, c.texelCount) << c.imageWidth << " x " << c.imageHeight;
    EXPECT_EQ(plan.planeCount, int64_t{c.imageWidth} * c.imageHeight);
  }
}

struct Planes {
  std::vector<uint8_t> red, green, blue;
};

TEST(TexturePlanTest, PowerOfTwoImagesAreInterleavedPixelForPixel) {
  const Planes image{{1, 2, 3, 4, 5, 6, 7, 8}, {11, 12, 13, 14, 15, 16, 17, 18}, {21, 22, 23, 24, 25, 26, 27, 28}};
  TexturePlan plan;
  ASSERT_EQ(planTexture(4, 2, 0, &plan), 1);
  std::vector<uint8_t> texels(plan.texelCount);
  fillTexels(&plan, image.red.data(), image.green.data(), image.blue.data(), texels.data());
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(texels[3 * i], image.red[i]);
    EXPECT_EQ(texels[3 * i + 1], image.green[i]);
    EXPECT_EQ(texels[3 * i + 2], image.blue[i]);
  }
}

// Red byte of texel (x, y), y counted from the first (bottom) row.
uint8_t redAt(const std::vector<uint8_t>& texels, int width, int x, int y) {
  return texels[(static_cast<size_t>(y) * width + x) * 3];
}

TEST(TexturePlanTest, OtherImagesAreRescaledUprightAndUnsheared) {
  // 3 x 3 image: bottom row 0, middle row 100, top row 200 in red; green
  // counts columns; blue is constant.
  const int w = 3, h = 3;
  Planes image;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image.red.push_back(static_cast<uint8_t>(100 * y));
      image.green.push_back(static_cast<uint8_t>(50 * x));
      image.blue.push_back(77);
    }
  }
  TexturePlan plan;
  ASSERT_EQ(planTexture(w, h, 0, &plan), 1);
  ASSERT_EQ(plan.width, 4);
  ASSERT_EQ(plan.height, 4);
  std::vector<uint8_t> texels(plan.texelCount, 0xEE);
  fillTexels(&plan, image.red.data(), image.green.data(), image.blue.data(), texels.data());
  for (int y = 0; y < plan.height; ++y) {
    for (int x = 0; x < plan.width; ++x) {
      // Every texture row is one image row (red the same along it), rising upward.
      EXPECT_EQ(redAt(texels, 4, x, y), redAt(texels, 4, 0, y)) << x << "," << y;
      EXPECT_EQ(texels[(static_cast<size_t>(y) * 4 + x) * 3 + 2], 77) << x << "," << y;
    }
  }
  EXPECT_EQ(redAt(texels, 4, 0, 0), 0);
  EXPECT_EQ(redAt(texels, 4, 0, 3), 200);
  EXPECT_LT(redAt(texels, 4, 0, 1), redAt(texels, 4, 0, 2));
  EXPECT_EQ(texels[1], 0);                      // green of the first texel: left column
  EXPECT_EQ(texels[(4 - 1) * 3 + 1], 100);      // green of the last texel of the row: right column
}

class LoadTextureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(viewerOffscreenContext()) << "no offscreen OpenGL context";
    dir_ = makeTempDirectory("viewer-texture");
    ASSERT_FALSE(dir_.empty());
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(LoadTextureTest, MissingOrColourMappedImagesLeaveTheBodyUntextured) {
  const std::vector<uint8_t> indices(8 * 4, 1);
  const int32_t map[2] = {0x000000, 0xFF8000};
  ASSERT_EQ(picSaveMap(8, 4, PIC_DRIVER_ZOT, indices.data(), 2, map, path("Mapped.jpg").c_str()), PIC_OK);

  for (const std::string name : {"Missing.jpg", "Mapped.jpg"}) {
    TextureObject texture{};
    const std::string file = path(name);
    std::string output;
    {
      StderrCapture capture;
      loadTexture(file.c_str(), &texture, 1, 1);
      output = capture.text();
    }
    EXPECT_EQ(output, "Carregando Textura: " + file + "\n");
    ASSERT_NE(texture.name, nullptr);
    EXPECT_EQ(std::string(texture.name), file);
    EXPECT_EQ(texture.mipmapped, 1);
    EXPECT_EQ(texture.modulated, 1);
    EXPECT_EQ(texture.textureId, 0u);
    EXPECT_EQ(texture.width, 0);
    EXPECT_EQ(texture.height, 0);
    EXPECT_EQ(texture.texels, nullptr);
    std::free(texture.name);  // the viewer keeps it for the process; a test record does not
  }
}

TEST_F(LoadTextureTest, ImagesOfEverySizeUploadAsTheyAre) {
  struct Case {
    int width, height;  // image
    int textureWidth, textureHeight;
  };
  const Case cases[] = {
      {1, 1, 1, 1}, {2, 1, 2, 1}, {1, 2, 1, 2}, {2, 2, 2, 2},  // rows of 3 or 6 bytes
      {64, 32, 64, 32}, {3, 2, 4, 2}, {300, 200, 512, 256}, {5, 7, 8, 8},
  };
  for (const Case& c : cases) {
    for (uint8_t mipmapped : {0, 1}) {
      SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + (mipmapped ? " mipmapped" : ""));
      const size_t pixels = static_cast<size_t>(c.width) * c.height;
      std::vector<uint8_t> red(pixels), green(pixels), blue(pixels);
      for (size_t i = 0; i < pixels; ++i) {
        red[i] = static_cast<uint8_t>(i * 7 + 1);
        green[i] = static_cast<uint8_t>(255 - i * 3);
        blue[i] = static_cast<uint8_t>(i * 11 + 5);
      }
      const std::string file = path("image.bmp");
      ASSERT_EQ(picSaveRGB(c.width, c.height, PIC_DRIVER_BMP, red.data(), green.data(), blue.data(), file.c_str()),
                PIC_OK);

      TextureObject texture{};
      std::string output;
      {
        StderrCapture capture;
        loadTexture(file.c_str(), &texture, mipmapped, 0);
        output = capture.text();
      }
      EXPECT_EQ(output, "Carregando Textura: " + file + "\n") << "no OpenGL error";
      EXPECT_EQ(texture.width, c.textureWidth);
      EXPECT_EQ(texture.height, c.textureHeight);
      EXPECT_EQ(texture.border, 0);
      ASSERT_NE(texture.texels, nullptr);
      ASSERT_NE(texture.textureId, 0u);
      const size_t texelBytes = static_cast<size_t>(texture.width) * texture.height * 3;
      if (c.width == c.textureWidth && c.height == c.textureHeight) {
        for (size_t i = 0; i < pixels; ++i) {  // exactly the image, bottom row first
          ASSERT_EQ(texture.texels[3 * i], red[i]) << i;
          ASSERT_EQ(texture.texels[3 * i + 1], green[i]) << i;
          ASSERT_EQ(texture.texels[3 * i + 2], blue[i]) << i;
        }
      }

      // What OpenGL holds is the buffer, byte for byte.
      std::vector<uint8_t> uploaded(texelBytes);
      glBindTexture(GL_TEXTURE_2D, texture.textureId);
      glPixelStorei(GL_PACK_ALIGNMENT, 1);
      glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, uploaded.data());
      EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
      EXPECT_EQ(uploaded, std::vector<uint8_t>(texture.texels, texture.texels + texelBytes));

      GLuint id = texture.textureId;
      glDeleteTextures(1, &id);
      G_FREE_ARRAY(texture.texels, VECTOR);
      std::free(texture.name);
    }
  }
}

}  // namespace
