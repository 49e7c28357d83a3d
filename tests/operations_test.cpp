// The library's operations, checked through a scripted driver registered by the
// test: driver search and statuses, progress sequences, interruption, row
// placement through currentLine, the size guard, and closing on every path.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "picture/core/picture.h"
#include "support/image_peer.h"

namespace {

enum class RowOrder { bottomUp, topDown, outOfRange };

// What the scripted driver does; reset by each test.
struct Script {
  int openStatus = PIC_OK;
  int width = 3;
  int height = 4;
  int colourMode = PIC_RGB;
  int colours = 0;
  int planar = 0;
  int mapFirst = 1;
  int compression = PIC_COMP_NONE;
  RowOrder order = RowOrder::bottomUp;
  int failAtLine = -1;  // line call (counted from 0) that fails
  int closeResult = 0;
  std::vector<int32_t> map;
};

Script script;
int openFiles = 0;
std::vector<std::string> calls;  // what a save did, in order
std::vector<int> progress;
int stopAtCall = -1;  // progress call (counted from 0) that answers "stop"

struct FakeState {
  int lineCalls;
  int linesInPlane;
};

FakeState* stateOf(picFile* file) { return static_cast<FakeState*>(file->driverData); }

picFile* makeFile(int width, int height, int colourMode, int colours, int compression) {
  auto* file = new picFile{};
  file->driverData = new FakeState{0, 0};
  file->width = width;
  file->height = height;
  file->colourMode = colourMode;
  file->colours = colours;
  file->compression = compression;
  file->planar = script.planar;
  file->mapFirst = script.mapFirst;
  file->planeOrder[0] = 0;
  file->planeOrder[1] = 1;
  file->planeOrder[2] = 2;
  switch (script.order) {
    case RowOrder::bottomUp: file->currentLine = 0; break;
    case RowOrder::topDown: file->currentLine = height - 1; break;
    case RowOrder::outOfRange: file->currentLine = height; break;
  }
  ++openFiles;
  return file;
}

// Real files that no other driver claims: the scripted driver recognises them by name.
bool isFakeName(const char* name) {
  const size_t length = std::strlen(name);
  return length > 5 && std::strcmp(name + length - 5, ".fake") == 0;
}

picFile* fakeOpenRead(const char* name, int* status) {
  if (!isFakeName(name)) {
    *status = PIC_ERR_FORMAT;
    return nullptr;
  }
  *status = script.openStatus;
  if (script.openStatus != PIC_OK && script.openStatus != PIC_ERR_DATA &&
      script.openStatus != PIC_ERR_COMPRESSION)
    return nullptr;
  return makeFile(script.width, script.height, script.colourMode, script.colours, script.compression);
}

picFile* fakeOpenWrite(const char* name, int width, int height, int colourMode, int compression,
                       int colours, int* status) {
  if (!isFakeName(name)) {
    *status = PIC_ERR_OPEN;
    return nullptr;
  }
  *status = PIC_OK;
  calls.clear();
  return makeFile(width, height, colourMode, colours, compression);
}

int fakeClose(picFile* file) {
  delete stateOf(file);
  delete file;
  --openFiles;
  return script.closeResult;
}

int fakeReadMap(picFile* file, int32_t* map) {
  for (int i = 0; i < file->colours; ++i) map[i] = script.map[size_t(i)];
  return 0;
}

// Moves currentLine the way the script's row order says; planar images come
// back to their first row after each plane.
void advance(picFile* file) {
  FakeState* state = stateOf(file);
  ++state->lineCalls;
  const bool topDown = script.order == RowOrder::topDown;
  file->currentLine += topDown ? -1 : 1;
  if (file->planar && ++state->linesInPlane == file->height) {
    state->linesInPlane = 0;
    file->currentLine = topDown ? file->height - 1 : 0;
  }
}

// Each delivered line holds its line-call number plus the pixel's column.
int fakeReadLine(picFile* file, uint8_t* line) {
  if (stateOf(file)->lineCalls == script.failAtLine) return 1;
  for (int x = 0; x < file->width; ++x) line[x] = uint8_t(stateOf(file)->lineCalls * 10 + x);
  advance(file);
  return 0;
}

int fakeReadRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (stateOf(file)->lineCalls == script.failAtLine) return 1;
  for (int x = 0; x < file->width; ++x) {
    red[x] = uint8_t(stateOf(file)->lineCalls * 10 + x);
    green[x] = uint8_t(100 + x);
    blue[x] = uint8_t(200 + x);
  }
  advance(file);
  return 0;
}

int fakeWriteMap(picFile*, const int32_t*) {
  calls.push_back("map");
  return 0;
}

int fakeWriteLine(picFile* file, const uint8_t* line) {
  calls.push_back("line " + std::to_string(file->currentLine) + ":" + std::to_string(line[0]));
  advance(file);
  return 0;
}

int fakeWriteRGBLine(picFile* file, const uint8_t* red, const uint8_t*, const uint8_t*) {
  calls.push_back("rgb " + std::to_string(file->currentLine) + ":" + std::to_string(red[0]));
  advance(file);
  return 0;
}

int fakeControl(void*, int code) { return code + 1000; }

picDriver fakeDriver = {0,           fakeControl,   fakeOpenRead, fakeOpenWrite,
                        fakeClose,   fakeReadMap,   fakeWriteMap, fakeReadLine,
                        fakeWriteLine, fakeReadRGBLine, fakeWriteRGBLine};

int recordProgress(const char*, int percent, int) {
  progress.push_back(percent);
  return int(progress.size()) - 1 == stopAtCall ? 1 : 0;
}

class Operations : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    fakeIndex = picRegisterDriver(&fakeDriver);
    const std::string text = "FAKE image, for the operations tests only\n";
    writeFileBytes(fakeFile(), std::vector<uint8_t>(text.begin(), text.end()));
  }
  static std::string fakeFile() { return tempPath("scripted.fake"); }
  void SetUp() override {
    script = Script{};
    progress.clear();
    stopAtCall = -1;
    openFiles = 0;
    picDriverControl(reinterpret_cast<void*>(recordProgress), PIC_CONTROL_PROGRESS, -1);
  }
  void TearDown() override {
    picDriverControl(nullptr, PIC_CONTROL_PROGRESS, -1);
    EXPECT_EQ(openFiles, 0) << "a picFile was left open";
  }
  static int fakeIndex;
  const char* file() {
    name_ = fakeFile();
    return name_.c_str();
  }
  std::string name_;
};
int Operations::fakeIndex = -1;

struct Planes {
  std::vector<uint8_t> red, green, blue;
  Planes(int width, int height, uint8_t fill = 0xee)
      : red(size_t(width) * height, fill), green(red), blue(red) {}
  int load(const char* name) { return picLoadRGB(name, red.data(), green.data(), blue.data()); }
};

TEST_F(Operations, ProgressRunsZeroThenEveryLineThenHundred) {
  struct Case {
    int colourMode, planar, height;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {PIC_MAP, 0, 4, {0, 0, 25, 50, 75, 100}},
      {PIC_RGB, 0, 4, {0, 0, 25, 50, 75, 100}},
      {PIC_RGB, 1, 2, {0, 0, 16, 33, 50, 66, 83, 100}},
  };
  for (const Case& c : cases) {
    script.colourMode = c.colourMode;
    script.colours = c.colourMode == PIC_MAP ? 256 : 0;
    script.map.assign(256, 0);
    script.planar = c.planar;
    script.height = c.height;
    progress.clear();
    Planes planes(3, c.height);
    EXPECT_EQ(PIC_OK, planes.load(file()));
    EXPECT_EQ(progress, c.expected) << "mode " << c.colourMode << " planar " << c.planar;
  }
}

TEST_F(Operations, StopFromProgressLeavesTheRowsReadAndClosesTheFile) {
  stopAtCall = 2;  // the second per-line call
  Planes planes(3, 4);
  EXPECT_EQ(PIC_INTERRUPTED, planes.load(file()));
  EXPECT_EQ(planes.red[0], 0);      // row 0: line call 0
  EXPECT_EQ(planes.red[3], 10);     // row 1: line call 1
  EXPECT_EQ(planes.red[6], 0xee);   // row 2 untouched
  EXPECT_EQ(planes.red[9], 0xee);
}

TEST_F(Operations, RowsGoWhereTheDriverSays) {
  script.order = RowOrder::topDown;
  Planes planes(3, 4);
  ASSERT_EQ(PIC_OK, planes.load(file()));
  EXPECT_EQ(planes.red[3 * 3], 0);  // the first line read is the top row
  EXPECT_EQ(planes.red[0], 30);     // the last line read is the bottom row
  EXPECT_EQ(planes.green[1], 101);
  EXPECT_EQ(planes.blue[2], 202);
}

TEST_F(Operations, PlanarLoadFillsEachPlaneInTurn) {
  script.planar = 1;
  script.height = 2;
  Planes planes(3, 2);
  ASSERT_EQ(PIC_OK, planes.load(file()));
  // Line calls 0-1 fill red, 2-3 green, 4-5 blue.
  EXPECT_EQ(planes.red[0], 0);
  EXPECT_EQ(planes.red[3], 10);
  EXPECT_EQ(planes.green[0], 20);
  EXPECT_EQ(planes.blue[3], 50);
}

TEST_F(Operations, MappedFileLoadsAsColoursAndOutOfMapIndicesAreBlack) {
  script.colourMode = PIC_MAP;
  script.colours = 12;  // line call 1 delivers indices 10, 11, 12
  for (int i = 0; i < 12; ++i) script.map.push_back(0x010203 * (i + 1));
  Planes planes(3, 4);
  ASSERT_EQ(PIC_OK, planes.load(file()));
  EXPECT_EQ(planes.red[0], 1);   // index 0 -> entry 0x010203
  EXPECT_EQ(planes.blue[1], 6);  // index 1 -> entry 0x020406
  EXPECT_EQ(planes.red[3], 11);  // index 10 -> entry 11 * 0x010203
  EXPECT_EQ(planes.green[5], 0);  // index 12 is outside the map
  EXPECT_EQ(planes.blue[5], 0);
}

TEST_F(Operations, DescribingAcceptsWhatLoadingRefuses) {
  for (int status : {PIC_ERR_DATA, PIC_ERR_COMPRESSION}) {
    script.openStatus = status;
    script.compression = PIC_COMP_LZW;
    int width = 0, height = 0, mode = -1, colours = -1, format = 0;
    EXPECT_EQ(PIC_OK, picImageInfo(file(), &width, &height, &mode, &colours));
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 4);
    EXPECT_EQ(mode, PIC_RGB);
    EXPECT_EQ(PIC_OK, picFileFormat(file(), &format));
    EXPECT_EQ(format, fakeIndex | PIC_COMP_LZW);
    Planes planes(3, 4);
    EXPECT_EQ(status, planes.load(file()));
    EXPECT_EQ(status, picImageStatus(file()));  // the driver's verdict, where picImageInfo says PIC_OK
  }
  script.openStatus = PIC_OK;
  EXPECT_EQ(PIC_OK, picImageStatus(file()));
  EXPECT_EQ(PIC_ERR_FORMAT, picFileFormat(file(), nullptr));
  EXPECT_EQ(PIC_OK, picImageInfo(file(), nullptr, nullptr, nullptr, nullptr));
}

TEST_F(Operations, AbsurdDescriptionsAreRefusedBeforeAnyBufferIsTouched) {
  struct Case {
    int width, height, colourMode, colours;
  };
  const Case cases[] = {
      {0, 4, PIC_RGB, 0},         {3, 0, PIC_RGB, 0},       {-3, 4, PIC_RGB, 0},
      {3, -4, PIC_RGB, 0},        {65536, 65536, PIC_RGB, 0}, {0x7fffffff, 2, PIC_RGB, 0},
      {3, 4, PIC_MAP, 257},       {3, 4, PIC_MAP, -1},      {3, 4, 7, 0},
  };
  for (const Case& c : cases) {
    script.width = c.width;
    script.height = c.height;
    script.colourMode = c.colourMode;
    script.colours = c.colours;
    int width = 0;
    Planes planes(1, 1);
    EXPECT_EQ(PIC_ERR_DATA, picImageInfo(file(), &width, nullptr, nullptr, nullptr))
        << c.width << "x" << c.height << " colours " << c.colours;
    EXPECT_EQ(width, 0);
    EXPECT_EQ(PIC_ERR_DATA, planes.load(file()));
    EXPECT_EQ(planes.red[0], 0xee);
  }
}

TEST_F(Operations, ARowOutsideTheImageIsAReadError) {
  script.order = RowOrder::outOfRange;
  Planes planes(3, 4);
  EXPECT_EQ(PIC_ERR_READ, planes.load(file()));
  std::vector<uint8_t> indices(12);
  int32_t map[256];
  script.colourMode = PIC_MAP;
  script.colours = 2;
  script.map = {0, 0};
  EXPECT_EQ(PIC_ERR_READ, picLoadMap(file(), indices.data(), map));
}

TEST_F(Operations, FailuresAfterOpeningCloseTheFile) {
  script.failAtLine = 2;
  Planes planes(3, 4);
  EXPECT_EQ(PIC_ERR_READ, planes.load(file()));
  EXPECT_EQ(planes.red[3], 10);
  EXPECT_EQ(planes.red[6], 0xee);

  script.failAtLine = -1;
  std::vector<uint8_t> indices(12);
  int32_t map[256];
  EXPECT_EQ(PIC_ERR_DATA, picLoadMap(file(), indices.data(), map));  // true colour
}

TEST_F(Operations, LoadMapDeliversIndicesAndMap) {
  script.colourMode = PIC_MAP;
  script.colours = 2;
  script.map = {0x123456, 0x654321};
  std::vector<uint8_t> indices(12);
  int32_t map[2] = {};
  ASSERT_EQ(PIC_OK, picLoadMap(file(), indices.data(), map));
  EXPECT_EQ(map[1], 0x654321);
  EXPECT_EQ(indices[4], 11);
  EXPECT_EQ(progress, (std::vector<int>{0, 0, 25, 50, 75, 100}));
}

TEST_F(Operations, SavesFollowTheDriversMapPlacementAndRowOrder) {
  const uint8_t indices[] = {1, 1, 2, 2};  // rows 0 and 1 of a 2 x 2 image
  const int32_t map[] = {0, 0, 0};
  script.mapFirst = 0;
  script.order = RowOrder::topDown;
  ASSERT_EQ(PIC_OK, picSaveMap(2, 2, fakeIndex, indices, 3, map, "out.fake"));
  EXPECT_EQ(calls, (std::vector<std::string>{"line 1:2", "line 0:1", "map"}));
  EXPECT_EQ(progress, (std::vector<int>{0, 0, 50, 100}));

  script.mapFirst = 1;
  script.order = RowOrder::bottomUp;
  ASSERT_EQ(PIC_OK, picSaveMap(2, 2, fakeIndex, indices, 3, map, "out.fake"));
  EXPECT_EQ(calls, (std::vector<std::string>{"map", "line 0:1", "line 1:2"}));

  const uint8_t green[4] = {}, blue[4] = {};
  ASSERT_EQ(PIC_OK, picSaveRGB(2, 2, fakeIndex, indices, green, blue, "out.fake"));
  EXPECT_EQ(calls, (std::vector<std::string>{"rgb 0:1", "rgb 1:2"}));

  script.planar = 1;
  progress.clear();
  ASSERT_EQ(PIC_OK, picSaveRGB(2, 2, fakeIndex, indices, green, blue, "out.fake"));
  EXPECT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[3], "line 1:0");
  EXPECT_EQ(progress, (std::vector<int>{0, 0, 16, 33, 50, 66, 83, 100}));

  progress.clear();
  stopAtCall = 1;
  EXPECT_EQ(PIC_INTERRUPTED, picSaveRGB(2, 2, fakeIndex, indices, green, blue, "out.fake"));
}

TEST_F(Operations, ASaveIsDoneOnlyWhenTheDriversCloseSucceeds) {
  const uint8_t plane[4] = {};
  const int32_t map[1] = {};
  script.closeResult = 1;
  EXPECT_EQ(PIC_ERR_WRITE, picSaveRGB(2, 2, fakeIndex, plane, plane, plane, "out.fake"));
  EXPECT_EQ(PIC_ERR_WRITE, picSaveMap(2, 2, fakeIndex, plane, 1, map, "out.fake"));
  stopAtCall = 1;  // the first failure decides
  progress.clear();
  EXPECT_EQ(PIC_INTERRUPTED, picSaveRGB(2, 2, fakeIndex, plane, plane, plane, "out.fake"));
  progress.clear();
  Planes planes(3, 4);
  EXPECT_EQ(PIC_INTERRUPTED, planes.load(file()));
}

int recordThenReplace(const char*, int percent, int) {
  progress.push_back(percent);
  picSetProgressCallback([](const char*, int later, int) {
    progress.push_back(1000 + later);
    return 0;
  });
  return 0;
}

int recordThenRemove(const char*, int percent, int) {
  progress.push_back(percent);
  picSetProgressCallback(nullptr);
  return 0;
}

TEST_F(Operations, ProgressGoesToTheCallbackInstalledAtEachCall) {
  Planes planes(3, 4);
  picSetProgressCallback(recordThenReplace);
  ASSERT_EQ(PIC_OK, planes.load(file()));
  EXPECT_EQ(progress, (std::vector<int>{0, 1000, 1025, 1050, 1075, 1100}));
  progress.clear();
  picSetProgressCallback(recordThenRemove);
  ASSERT_EQ(PIC_OK, planes.load(file()));
  EXPECT_EQ(progress, (std::vector<int>{0}));
}

TEST_F(Operations, SavesRefuseWhatNoDriverOrBufferCanTake) {
  const uint8_t plane[4] = {};
  const int32_t map[1] = {};
  EXPECT_EQ(PIC_ERR_FORMAT, picSaveRGB(2, 2, 0xff, plane, plane, plane, "out.fake"));
  EXPECT_EQ(PIC_ERR_FORMAT, picSaveMap(2, 2, 0x1fe, plane, 1, map, "out.fake"));
  EXPECT_EQ(PIC_ERR_DATA, picSaveRGB(0, 2, fakeIndex, plane, plane, plane, "out.fake"));
  EXPECT_EQ(PIC_ERR_DATA, picSaveRGB(65536, 65536, fakeIndex, plane, plane, plane, "out.fake"));
  EXPECT_EQ(PIC_ERR_DATA, picSaveMap(2, 2, fakeIndex, plane, 257, map, "out.fake"));
  EXPECT_EQ(PIC_ERR_OPEN, picSaveRGB(2, 2, fakeIndex, plane, plane, plane, "/no/such/dir/x"));
}

TEST_F(Operations, UnknownFilesAndFailedOpens) {
  Planes planes(1, 1);
  EXPECT_EQ(PIC_ERR_OPEN, planes.load("/no/such/file"));
  script.openStatus = PIC_ERR_READ;
  EXPECT_EQ(PIC_ERR_READ, picImageInfo(file(), nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(PIC_ERR_READ, planes.load(file()));
}

TEST_F(Operations, ControlReachesTheDriverByIndex) {
  EXPECT_EQ(1005, picDriverControl(nullptr, 5, fakeIndex));
  EXPECT_EQ(1005, picDriverControl(nullptr, 5, fakeIndex | 0x300));
  EXPECT_EQ(0, picDriverControl(nullptr, 5, PIC_DRIVER_SUN));
  EXPECT_EQ(0, picDriverControl(nullptr, 5, 0xfe));
  EXPECT_EQ(0, picDriverControl(nullptr, 2, -1));
}

// Every built-in writer, to a full disk and to a memory buffer one byte short of
// the file: the save must say that the file is not complete.
TEST(Saves, EveryWriterReportsBytesThatNeverReachedTheFile) {
  struct Case {
    int format;
    bool mapped;
  };
  const Case cases[] = {
      {PIC_DRIVER_BMP, false},  {PIC_DRIVER_BMP, true},   {PIC_DRIVER_BMP | PIC_COMP_RLE, true},
      {PIC_DRIVER_PCX, false},  {PIC_DRIVER_PCX, true},   {PIC_DRIVER_GIF, true},
      {PIC_DRIVER_TIFF, false}, {PIC_DRIVER_TIFF, true},  {PIC_DRIVER_SUN, false},
      {PIC_DRIVER_SUN, true},   {PIC_DRIVER_SGI, false},  {PIC_DRIVER_SGI, true},
      {PIC_DRIVER_JPEG | PIC_COMP_RLE, false}, {PIC_DRIVER_JPEG | PIC_COMP_RLE, true},
      {PIC_DRIVER_ZOT, true},   {PIC_DRIVER_TARGA, false}, {PIC_DRIVER_TARGA | PIC_COMP_RLE, true},
  };
  const RgbImage rgb = makeTestImage(4, 4);
  const MappedImage mapped = makeTestMapped(4, 4, 16);
  for (const Case& c : cases) {
    auto save = [&](const char* name) {
      return c.mapped ? picSaveMap(4, 4, c.format, mapped.indices.data(), 16, mapped.map.data(), name)
                      : picSaveRGB(4, 4, c.format, rgb.red.data(), rgb.green.data(), rgb.blue.data(), name);
    };
    auto saveToMemory = [&](size_t capacity) {
      std::vector<uint8_t> buffer(capacity);
      char name[64];
      picMemoryFileName(name, sizeof name, buffer.data(), int(capacity));
      picUseMemoryFiles();
      const int status = save(name);
      picUseDiskFiles();
      return status;
    };
    SCOPED_TRACE("format " + std::to_string(c.format) + (c.mapped ? " map" : " rgb"));
    EXPECT_EQ(PIC_ERR_WRITE, save("/dev/full"));
    ASSERT_EQ(PIC_OK, saveToMemory(1 << 16));
    const size_t length = size_t(picMemoryFileLength());
    ASSERT_GT(length, 0u);
    EXPECT_EQ(PIC_ERR_WRITE, saveToMemory(length - 1)) << length << " bytes";
  }
}

TEST(Version, IsThreeCharacters) {
  const std::string version = picVersion();
  ASSERT_EQ(version.size(), 3u);
  EXPECT_TRUE(isdigit(version[0]) && version[1] == '.' && isdigit(version[2]));
}

}  // namespace

namespace {

TEST_F(Operations, SizedLoadRefusesAFileOfAnotherSize) {
  Planes planes(3, 4);
  EXPECT_EQ(PIC_OK, picLoadRGBSized(file(), 3, 4, planes.red.data(), planes.green.data(),
                                    planes.blue.data()));
  script.width = 30;  // the file grew since it was described
  Planes untouched(3, 4);
  EXPECT_EQ(PIC_ERR_DATA, picLoadRGBSized(file(), 3, 4, untouched.red.data(),
                                          untouched.green.data(), untouched.blue.data()));
  EXPECT_EQ(untouched.red[0], 0xee);
  EXPECT_EQ(PIC_ERR_DATA, picLoadRGBSized(file(), 0, 4, untouched.red.data(),
                                          untouched.green.data(), untouched.blue.data()));
}

}  // namespace

namespace {

// A file replaced between its description and its load (another process
// saving over it) must not be written into planes or a map sized from the
// description: under AddressSanitizer a write past them fails the test.
TEST(DescribedSize, AFileChangedSinceItsDescriptionIsRefused) {
  const std::string path = tempPath("swapped.bmp");
  for (const bool mapped : {false, true}) {
    SCOPED_TRACE(mapped ? "mapped" : "true colour");
    const auto save = [&](int side, int colours) {
      const MappedImage image = makeTestMapped(side, side, colours);
      const RgbImage rgb = mappedToRgb(image);
      return mapped ? picSaveMap(side, side, PIC_DRIVER_BMP, image.indices.data(), colours, image.map.data(),
                                 path.c_str())
                    : picSaveRGB(side, side, PIC_DRIVER_BMP, rgb.red.data(), rgb.green.data(), rgb.blue.data(),
                                 path.c_str());
    };
    for (const int laterSide : {64, 16}) {
      ASSERT_EQ(PIC_OK, save(16, 16));
      int width = 0, height = 0, mode = 0, colours = 0;
      ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, &mode, &colours));
      ASSERT_EQ(PIC_OK, save(laterSide, 16));
      std::vector<uint8_t> red(size_t(width) * height, 7), green(red), blue(red);
      std::vector<int32_t> map(size_t(colours), 7);
      const int status = mapped ? picLoadMap(path.c_str(), red.data(), map.data())
                                : picLoadRGB(path.c_str(), red.data(), green.data(), blue.data());
      if (laterSide != 16) {
        EXPECT_EQ(PIC_ERR_DATA, status) << laterSide;
        EXPECT_EQ(std::vector<uint8_t>(red.size(), 7), red) << "nothing is written";
      }
    }
  }
}

// A load tries the describing driver first: a file replaced by one of the same
// size in another format must still be loaded by the driver that takes it.
TEST(DescribedSize, AFileReplacedByAnotherFormatLoadsAsItIsNow) {
  const std::string path = tempPath("reformatted");
  const RgbImage first = makeTestImage(12, 8), second = mappedToRgb(makeTestMapped(12, 8, 7));
  const auto save = [&](int format, const RgbImage& image) {
    return picSaveRGB(12, 8, format, image.red.data(), image.green.data(), image.blue.data(), path.c_str());
  };
  const std::pair<int, int> swaps[] = {{PIC_DRIVER_TARGA, PIC_DRIVER_BMP}, {PIC_DRIVER_BMP, PIC_DRIVER_TARGA}};
  for (const auto& [before, after] : swaps) {
    ASSERT_EQ(PIC_OK, save(before, first));
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(PIC_OK, save(after, second));
    std::vector<uint8_t> red(96), green(96), blue(96);
    ASSERT_EQ(PIC_OK, picLoadRGB(path.c_str(), red.data(), green.data(), blue.data())) << before;
    EXPECT_EQ(red, second.red) << before;
    EXPECT_EQ(blue, second.blue) << before;
  }
}

}  // namespace

namespace {

// A refusal names its check; a success, and another thread, see none.
TEST(Reasons, ARefusalNamesItsCheckUntilTheNextOperation) {
  const std::string path = tempPath("reason.bmp");
  const RgbImage image = makeTestImage(20, 10);
  ASSERT_EQ(PIC_OK, picSaveRGB(20, 10, PIC_DRIVER_BMP, image.red.data(), image.green.data(), image.blue.data(),
                               path.c_str()));
  EXPECT_EQ(picLastReason(), nullptr);
  picSetPixelLimitThread(100);
  std::vector<uint8_t> red(200), green(200), blue(200);
  EXPECT_EQ(PIC_ERR_DATA, picLoadRGB(path.c_str(), red.data(), green.data(), blue.data()));
  ASSERT_NE(picLastReason(), nullptr);
  EXPECT_STREQ(picLastReason(), "over the pixel limit");
  const char* elsewhere = "unset";
  std::thread([&] { elsewhere = picLastReason(); }).join();
  EXPECT_EQ(elsewhere, nullptr);
  picClearThreadSettings();
  EXPECT_EQ(PIC_OK, picLoadRGB(path.c_str(), red.data(), green.data(), blue.data()));
  EXPECT_EQ(picLastReason(), nullptr);
}

}  // namespace
