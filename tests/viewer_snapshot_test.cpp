// solsys-snapshot as a program: pictures of known frames, checked at the
// places where the scene's formulas put the bodies, and its argument checks.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "picture/core/picture.h"
#include "support/viewer_harness.h"
#include "support/viewer_textures.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string snapshotProgram() { return builtProgram("tools/solsys-snapshot", SOLSYS_BINARY_DIR); }

// Runs the tool in `directory`; the exit code, or -1.
int snapshot(const std::string& directory, const std::vector<std::string>& arguments, std::string* errors = nullptr) {
  ChildOptions options;
  options.argv = {snapshotProgram()};
  options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
  options.workingDirectory = directory;
  options.stderrPath = directory + "/snapshot-stderr.txt";
  const int status = runChild(options, 300.0);
  if (errors) *errors = readFileText(options.stderrPath);
  return status;
}

bool loadPicture(const std::string& path, Picture* picture) {
  int width = 0, height = 0, mode = 0, colours = 0;
  if (picImageInfo(path.c_str(), &width, &height, &mode, &colours) != PIC_OK || mode != PIC_RGB) return false;
  const size_t pixels = static_cast<size_t>(width) * height;
  std::vector<uint8_t> red(pixels), green(pixels), blue(pixels);
  if (picLoadRGB(path.c_str(), red.data(), green.data(), blue.data()) != PIC_OK) return false;
  picture->width = width;
  picture->height = height;
  picture->rgb.resize(pixels * 3);
  for (size_t i = 0; i < pixels; ++i) {
    picture->rgb[3 * i] = red[i];
    picture->rgb[3 * i + 1] = green[i];
    picture->rgb[3 * i + 2] = blue[i];
  }
  return true;
}

// Draws frame `frame` in `directory` and loads the picture.
Picture frameIn(const std::string& directory, int frame) {
  Picture picture;
  const std::string file = directory + "/frame" + std::to_string(frame) + ".bmp";
  std::string errors;
  EXPECT_EQ(snapshot(directory, {std::to_string(frame), file}, &errors), 0) << errors;
  EXPECT_TRUE(loadPicture(file, &picture)) << file;
  EXPECT_EQ(picture.width, 500);
  EXPECT_EQ(picture.height, 500);
  return picture;
}

Rgb pixelAt(const Picture& picture, double x, double y, double z) {
  const WindowPoint p = projectToWindow(x, y, z);
  return picture.at(static_cast<int>(p.x), static_cast<int>(p.y));
}

// True when some pixel within `reach` of the projection of (x, y, z) is white.
bool whiteNear(const Picture& picture, double x, double y, double z, int reach) {
  const WindowPoint p = projectToWindow(x, y, z);
  for (int dy = -reach; dy <= reach; ++dy) {
    for (int dx = -reach; dx <= reach; ++dx) {
      const Rgb c = picture.at(static_cast<int>(p.x) + dx, static_cast<int>(p.y) + dy);
      if (c.r > 220 && c.g > 220 && c.b > 220) return true;
    }
  }
  return false;
}

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = makeTempDirectory("viewer-snapshot");
    ASSERT_FALSE(dir_.empty());
  }
  std::string dir_;
};

TEST_F(SnapshotTest, FirstFrameShowsEveryBodyInItsPlace) {
  ASSERT_TRUE(writeUniformTextures(dir_));
  const Picture frame = frameIn(dir_, 1);
  const Rgb sun = frame.at(250, 250);
  EXPECT_TRUE(near(sun, kSunColour, 8)) << int(sun.r) << "," << int(sun.g) << "," << int(sun.b);
  EXPECT_TRUE(dominates(pixelAt(frame, 40, 0, 0), 1, 40)) << "the Earth, green";
  EXPECT_TRUE(dominates(pixelAt(frame, 50, 0, 0), 2, 40)) << "the Moon, blue";
  EXPECT_TRUE(whiteNear(frame, -40, 0, 0, 3)) << "the ring, left";
  EXPECT_TRUE(whiteNear(frame, 0, 0, 40, 3)) << "the ring, front";
  EXPECT_TRUE(near(frame.at(3, 3), {0, 0, 0}, 0)) << "space";
  EXPECT_TRUE(near(pixelAt(frame, 30, 0, 0), {0, 0, 0}, 0)) << "between the Earth and the Sun";
}

TEST_F(SnapshotTest, LaterFrameShowsTheMoonWhereTheFormulasPutIt) {
  ASSERT_TRUE(writeUniformTextures(dir_));
  const int frameNumber = 121;  // clock at 12.0 hours
  const double t = 0.1 * (frameNumber - 1);
  const double b = (360.0 * t / (24.0 * 365.0) + 360.0 * t / 24.0) * kPi / 180.0;
  const double moonX = 40.0 + 10.0 * std::cos(b), moonZ = -10.0 * std::sin(b);
  const Picture frame = frameIn(dir_, frameNumber);
  EXPECT_TRUE(dominates(pixelAt(frame, moonX, 0, moonZ), 2, 40)) << "the Moon near (30, 0, 0)";
  EXPECT_TRUE(near(pixelAt(frame, 50, 0, 0), {0, 0, 0}, 0)) << "where the Moon was";
  EXPECT_TRUE(dominates(pixelAt(frame, 40, 0, 0), 1, 40)) << "the Earth stays";
  EXPECT_TRUE(near(frame.at(250, 250), kSunColour, 8)) << "the Sun";
}

TEST_F(SnapshotTest, MissingTexturesGiveUntexturedBodies) {
  std::string errors;
  const std::string file = dir_ + "/frame3.bmp";
  ASSERT_EQ(snapshot(dir_, {"3", file}, &errors), 0);
  EXPECT_EQ(errors, "Carregando Textura: Sun.jpg\nCarregando Textura: Moon.jpg\nCarregando Textura: Earth.jpg\n");
  Picture frame;
  ASSERT_TRUE(loadPicture(file, &frame));
  // Emission (1, 1, 0.2) plus the white ambient light: yellow.
  const Rgb sun = frame.at(250, 250);
  EXPECT_TRUE(sun.r > 240 && sun.g > 240 && sun.b < 160) << int(sun.r) << "," << int(sun.g) << "," << int(sun.b);
  const Rgb earth = pixelAt(frame, 40, 0, 0);
  EXPECT_TRUE(earth.r == earth.g && earth.g == earth.b && earth.r > 20) << "grey Earth " << int(earth.r);
}

TEST_F(SnapshotTest, TexturesShowUprightWhateverTheirSize) {
  // Upper half red, lower half blue, on the Sun (replace mode shows them as they are).
  const Rgb lower = {0, 0, 255}, upper = {255, 0, 0};
  for (const auto& size : std::vector<std::pair<int, int>>{{64, 32}, {48, 40}, {100, 30}}) {
    ASSERT_EQ(writeTexture(dir_ + "/Sun.jpg", kJpegFormat, size.first, size.second, lower, &upper), PIC_OK);
    const Picture frame = frameIn(dir_, 2);
    const double s60 = std::sin(60 * kPi / 180), s45 = std::sin(45 * kPi / 180);
    const Rgb north = pixelAt(frame, 0, 10 * s60, 10 * 0.5);   // latitude +60, facing the camera
    const Rgb south = pixelAt(frame, 0, -10 * s45, 10 * s45);  // latitude -45, facing the camera
    EXPECT_TRUE(dominates(north, 0, 100)) << size.first << "x" << size.second << ": " << int(north.r) << ","
                                          << int(north.g) << "," << int(north.b);
    EXPECT_TRUE(dominates(south, 2, 100)) << size.first << "x" << size.second << ": " << int(south.r) << ","
                                          << int(south.g) << "," << int(south.b);
  }
}

TEST_F(SnapshotTest, RefusesBadArguments) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"1"}, {"0", "a.bmp"}, {"-4", "a.bmp"}, {"x", "a.bmp"}, {"3x", "a.bmp"},
      {"99999999999999999999", "a.bmp"}, {"1", "a.webp"}, {"1", "a.gif"}, {"1", "noextension"}, {"1", "a.bmp", "extra"},
  };
  for (const auto& arguments : cases) {
    std::string errors;
    EXPECT_EQ(snapshot(dir_, arguments, &errors), 2) << ::testing::PrintToString(arguments);
    EXPECT_NE(errors.find("usage: solsys-snapshot"), std::string::npos);
  }
  EXPECT_TRUE(readFileText(dir_ + "/a.bmp").empty());
}

}  // namespace
