// The running solsys on a private X server: its console lines, its window,
// the keys it answers, and how it ends.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "picture/core/picture.h"
#include "support/viewer_harness.h"
#include "support/viewer_textures.h"

namespace {

const std::string kProgressLines =
    "Carregando Textura: Sun.jpg\nCarregando Textura: Moon.jpg\nCarregando Textura: Earth.jpg\n";

std::string viewerProgram() { return builtProgram("viewer/solsys", SOLSYS_BINARY_DIR); }

// One solsys process in `directory`, with its standard error in a file.
class Viewer {
 public:
  explicit Viewer(const std::string& directory) : stderrPath_(directory + "/solsys-stderr.txt") {
    ChildOptions options;
    options.argv = {viewerProgram()};
    options.workingDirectory = directory;
    options.stderrPath = stderrPath_;
    pid_ = startChild(options);
  }
  ~Viewer() {
    if (pid_ > 0 && childRunning(pid_)) waitChild(pid_, 0.0, &status_);
  }
  bool started() const { return pid_ > 0; }
  bool running() const { return childRunning(pid_); }
  // Waits for the end; the exit code, or -1 (timeout or signal).
  int exitCode(double seconds) {
    if (!waitChild(pid_, seconds, &status_) || !WIFEXITED(status_)) return -1;
    pid_ = -1;
    return WEXITSTATUS(status_);
  }
  std::string errors() const { return readFileText(stderrPath_); }

 private:
  std::string stderrPath_;
  pid_t pid_ = -1;
  int status_ = 0;
};

bool sendKey(unsigned long window, const std::string& key) {
  ChildOptions options;
  options.argv = {"xdotool", "key", "--window", std::to_string(window), key};
  return runChild(options, 20.0) == 0;
}

class ViewerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    ASSERT_NE(sharedXvfb(&reason), nullptr) << reason;
    dir_ = makeTempDirectory("viewer-process");
    ASSERT_FALSE(dir_.empty());
  }
  std::string dir_;
};

TEST_F(ViewerProcessTest, EscapeEndsItOtherKeysAndResizingChangeNothing) {
  ASSERT_TRUE(writeUniformTextures(dir_));
  Viewer viewer(dir_);
  ASSERT_TRUE(viewer.started());
  const unsigned long window = findWindow("SOLSYS-01", 60.0);
  ASSERT_NE(window, 0u) << viewer.errors();

  const auto sunShown = [](const Picture& shown) { return near(shown.at(250, 250), kSunColour, 8); };
  Picture picture;
  ASSERT_TRUE(captureWindowUntil(window, &picture, sunShown, 30.0));
  EXPECT_EQ(picture.width, 500);
  EXPECT_EQ(picture.height, 500);
  const Rgb sun = picture.at(250, 250);
  EXPECT_TRUE(near(sun, kSunColour, 8)) << int(sun.r) << "," << int(sun.g) << "," << int(sun.b);

  for (const char* key : {"a", "Q", "space", "Return", "Left", "F1", "BackSpace", "ctrl+c"}) {
    EXPECT_TRUE(sendKey(window, key)) << key;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_TRUE(viewer.running()) << "after " << key;
  }
  EXPECT_EQ(viewer.errors(), kProgressLines);

  // A new size changes neither the viewport nor the aspect: the picture stays
  // 500 x 500, anchored at the lower-left corner.
  ChildOptions resize;
  resize.argv = {"xdotool", "windowsize", "--sync", std::to_string(window), "800", "300"};
  ASSERT_EQ(runChild(resize, 20.0), 0);
  const auto redrawn = [&](const Picture& shown) { return shown.width == 800 && sunShown(shown); };
  ASSERT_TRUE(captureWindowUntil(window, &picture, redrawn, 30.0));
  EXPECT_EQ(picture.width, 800);
  EXPECT_EQ(picture.height, 300);
  const Rgb resizedSun = picture.at(250, 250);
  EXPECT_TRUE(near(resizedSun, kSunColour, 8))
      << int(resizedSun.r) << "," << int(resizedSun.g) << "," << int(resizedSun.b);
  EXPECT_TRUE(near(picture.at(400, 150), {0, 0, 0}, 0)) << "the old centre is empty space now";

  sendKey(window, "Escape");  // xdotool may complain that the window went away
  EXPECT_EQ(viewer.exitCode(30.0), 0);
  EXPECT_EQ(viewer.errors(), kProgressLines);
}

TEST_F(ViewerProcessTest, MissingTexturesGiveOnlyTheirProgressLines) {
  Viewer viewer(dir_);
  ASSERT_TRUE(viewer.started());
  const unsigned long window = findWindow("SOLSYS-01", 60.0);
  ASSERT_NE(window, 0u) << viewer.errors();
  const auto yellow = [](const Rgb& c) { return c.r > 240 && c.g > 240 && c.b < 160; };
  Picture picture;
  ASSERT_TRUE(captureWindowUntil(
      window, &picture, [&](const Picture& shown) { return yellow(shown.at(250, 250)); }, 30.0));
  const Rgb sun = picture.at(250, 250);  // untextured: its yellow emission
  EXPECT_TRUE(yellow(sun)) << int(sun.r) << "," << int(sun.g) << "," << int(sun.b);
  sendKey(window, "Escape");  // xdotool may complain that the window went away
  EXPECT_EQ(viewer.exitCode(30.0), 0);
  EXPECT_EQ(viewer.errors(), kProgressLines);
}

void putLittle(std::string* bytes, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A 24-bit BMP of side x side pixels: its headers and a hundred bytes of data.
template <uint32_t side>
bool writeHugeBmp(const std::string& path) {
  std::string bytes = "BM";
  putLittle(&bytes, 154, 4);   // file size (as written)
  putLittle(&bytes, 0, 4);     // reserved
  putLittle(&bytes, 54, 4);    // offset of the pixel data
  putLittle(&bytes, 40, 4);    // size of the information header
  putLittle(&bytes, side, 4);  // width
  putLittle(&bytes, side, 4);  // height (positive: bottom row first)
  putLittle(&bytes, 1, 2);     // planes
  putLittle(&bytes, 24, 2);    // bits per pixel
  putLittle(&bytes, 0, 4);     // no compression
  putLittle(&bytes, 0, 4);     // image size (may be 0 when uncompressed)
  putLittle(&bytes, 2835, 4);  // horizontal resolution
  putLittle(&bytes, 2835, 4);  // vertical resolution
  putLittle(&bytes, 0, 4);     // colours used
  putLittle(&bytes, 0, 4);     // important colours
  bytes.append(100, '\0');
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

TEST_F(ViewerProcessTest, IdentifiedButUnreadableTextureEndsWithStatusOne) {
  struct Case {
    const char* what;
    bool (*make)(const std::string& path);
  };
  const Case cases[] = {
      {"BMP whose pixel data stops early",
       [](const std::string& path) {
         if (writeTexture(path, PIC_DRIVER_BMP, 64, 64, kMoonColour) != PIC_OK) return false;
         return truncate(path.c_str(), 54 + 3 * 64 * 10) == 0;
       }},
      {"JPEG whose scan stops early",
       [](const std::string& path) {
         if (writeTexture(path, kJpegFormat, 64, 64, kSunColour, &kMoonColour) != PIC_OK) return false;
         std::ifstream file(path, std::ios::binary | std::ios::ate);
         return truncate(path.c_str(), static_cast<off_t>(file.tellg()) - 16) == 0;
       }},
      {"BMP header claiming 40000 x 40000 pixels: width * height * 3 does not fit an int", &writeHugeBmp<40000>},
      {"BMP header claiming 20000 x 20000 pixels: its 32768 x 32768 texture does not fit", &writeHugeBmp<20000>},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dir = makeTempDirectory("viewer-unreadable");
    ASSERT_TRUE(writeUniformTextures(dir));
    ASSERT_TRUE(c.make(dir + "/Moon.jpg"));
    int format = 0;
    ASSERT_EQ(picFileFormat((dir + "/Moon.jpg").c_str(), &format), PIC_OK)
        << "the test file must be identified";

    Viewer viewer(dir);
    ASSERT_TRUE(viewer.started());
    EXPECT_EQ(viewer.exitCode(60.0), 1);
    EXPECT_EQ(viewer.errors(),
              "Carregando Textura: Sun.jpg\nCarregando Textura: Moon.jpg\nErro ao ler arquivo de texura: #Moon.jpg#\n");
  }
}

}  // namespace
