// The library from many threads at once: first calls racing each other, and
// loads and saves through every driver, from disk and memory, each thread
// with its own callbacks, pixel limit and JPEG quality, every result equal to a
// single-threaded run's. Built with ThreadSanitizer by ./test.sh, so it links
// the library alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "picture/core/picture.h"

namespace {

const int threadCount = 8;

// Runs body(t) on threads 0..threadCount-1, released together.
template <typename Body>
void onThreads(Body body) {
  std::atomic<int> waiting{threadCount};
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t)
    threads.emplace_back([&, t] {
      --waiting;
      while (waiting.load() > 0) std::this_thread::yield();
      body(t);
    });
  for (std::thread& thread : threads) thread.join();
}

struct Picture {
  int width = 37, height = 23;
  std::vector<uint8_t> red, green, blue;
  std::vector<uint8_t> indices;
  std::vector<int32_t> map;
};

Picture makePicture(unsigned seed) {
  Picture p;
  const size_t pixels = size_t(p.width) * p.height;
  for (size_t i = 0; i < pixels; ++i) {
    p.red.push_back(uint8_t(i * 7 + seed));
    p.green.push_back(uint8_t(i * 13 ^ seed));
    p.blue.push_back(uint8_t(i / 3 + seed * 5));
    p.indices.push_back(uint8_t((i + seed) % 16));
  }
  for (int c = 0; c < 16; ++c) p.map.push_back(int32_t(c * 0x0f0f0f + int(seed)));
  return p;
}

struct Result {
  int saveStatus = -99, loadStatus = -99;
  std::vector<uint8_t> bytes, red, green, blue;
  bool operator==(const Result& other) const {
    return saveStatus == other.saveStatus && loadStatus == other.loadStatus && bytes == other.bytes &&
           red == other.red && green == other.green && blue == other.blue;
  }
};

std::vector<uint8_t> fileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(uint8_t(c));
    std::fclose(file);
  }
  return bytes;
}

// Saves in `format` to `path`, or to memory (the thread's file table) when it
// is empty, and loads it back.
Result roundTrip(const Picture& p, int format, bool mapped, const std::string& path = "") {
  Result result;
  std::vector<uint8_t> buffer(size_t(p.width) * p.height * 8 + 65536);
  char name[64];
  picMemoryFileName(name, sizeof name, buffer.data(), int(buffer.size()));
  if (path.empty()) picUseMemoryFiles();
  const char* file = path.empty() ? name : path.c_str();
  result.saveStatus = mapped ? picSaveMap(p.width, p.height, format, p.indices.data(), 16, p.map.data(), file)
                             : picSaveRGB(p.width, p.height, format, p.red.data(), p.green.data(), p.blue.data(), file);
  if (path.empty()) {
    result.bytes.assign(buffer.begin(), buffer.begin() + picMemoryFileLength());
    picMemoryFileName(name, sizeof name, result.bytes.data(), int(result.bytes.size()));
  } else {
    result.bytes = fileBytes(path);
  }
  const size_t pixels = size_t(p.width) * p.height;
  result.red.resize(pixels), result.green.resize(pixels), result.blue.resize(pixels);
  result.loadStatus = picLoadRGBSized(file, p.width, p.height, result.red.data(), result.green.data(),
                                      result.blue.data());
  picUseDiskFiles();
  return result;
}

// Every driver, true colour and mapped where it writes them.
std::vector<std::pair<int, bool>> allSaves(int extra) {
  std::vector<std::pair<int, bool>> saves;
  for (int driver = 0; driver < PIC_BUILTIN_DRIVERS + 2; ++driver) {
    int index = driver < PIC_BUILTIN_DRIVERS ? driver : extra + driver - PIC_BUILTIN_DRIVERS;
    if (driver == PIC_DRIVER_JPEG) index |= PIC_COMP_RLE;  // its one compression
    if (driver != PIC_DRIVER_GIF && driver != PIC_DRIVER_ZOT) saves.push_back({index, false});
    saves.push_back({index, true});
  }
  return saves;
}

void raceFirstCalls() {
  const std::string path = "/tmp/solsys-threads-" + std::to_string(getpid()) + ".bmp";
  const Picture p = makePicture(3);
  std::atomic<int> wrong{0};
  std::vector<int> indices(threadCount);
  onThreads([&](int t) {
    if (t == 0 && picSaveRGB(p.width, p.height, PIC_DRIVER_BMP, p.red.data(), p.green.data(), p.blue.data(),
                             path.c_str()) != PIC_OK)
      ++wrong;
    indices[size_t(t)] = picRegisterExtraDrivers();
    int format = 0;
    const int status = picFileFormat("/no/such/file.tif", &format);
    if (status != PIC_ERR_OPEN && status != PIC_ERR_FORMAT) ++wrong;
  });
  std::remove(path.c_str());
  for (int index : indices)
    if (index != PIC_BUILTIN_DRIVERS) std::exit(1);
  std::exit(wrong == 0 ? 0 : 2);
}

TEST(Threads, FirstCallsRaceSafely) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(raceFirstCalls(), testing::ExitedWithCode(0), "");
}

int cancel(const char*, int, int) { return 1; }
std::atomic<int> progressCalls{0};
int count(const char*, int, int) { return ++progressCalls, 0; }

TEST(Threads, LoadsAndSavesOfEveryDriverAgreeWithOneThread) {
  const int extra = picRegisterExtraDrivers();
  const Picture p = makePicture(1);
  const auto saves = allSaves(extra);
  std::vector<Result> expected;
  for (const auto& save : saves) expected.push_back(roundTrip(p, save.first, save.second));
  for (size_t i = 0; i < saves.size(); ++i) ASSERT_EQ(expected[i].loadStatus, PIC_OK) << saves[i].first << (saves[i].second ? " mapped" : " rgb");

  std::atomic<int> mismatches{0}, cancelledLoads{0}, refusedLoads{0}, lowerQuality{0};
  onThreads([&](int t) {
    // Thread 0 cancels its own loads and thread 1 lowers its own pixel limit;
    // the others count progress, and must not notice either.
    if (t == 0) picSetProgressCallbackThread(cancel);
    if (t == 1) picSetPixelLimitThread(10);
    if (t > 1) picSetProgressCallbackThread(count);
    int quality = 40;  // thread 2 saves JPEG files of its own quality
    if (t == 2) picDriverControl(&quality, PIC_CONTROL_JPEG_QUALITY_THREAD, PIC_DRIVER_JPEG);
    // Odd threads go through disk files of their own, even ones through memory.
    const std::string path =
        t % 2 ? "/tmp/solsys-threads-" + std::to_string(getpid()) + "-" + std::to_string(t) : std::string();
    for (int round = 0; round < 3; ++round)
      for (size_t i = 0; i < saves.size(); ++i) {
        const Result result = roundTrip(p, saves[i].first, saves[i].second, path);
        if (t == 0) cancelledLoads += result.saveStatus == PIC_INTERRUPTED;
        if (t == 1) refusedLoads += result.loadStatus == PIC_ERR_DATA;
        const bool jpeg = (saves[i].first & 0xff) == PIC_DRIVER_JPEG;
        if (t == 2 && jpeg)
          lowerQuality += result.bytes.size() < expected[i].bytes.size();
        else if (t > 1 && !(result == expected[i]))
          ++mismatches;
      }
    picClearThreadSettings();
    if (!path.empty()) std::remove(path.c_str());
  });
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(cancelledLoads, int(saves.size()) * 3);
  EXPECT_EQ(refusedLoads, int(saves.size()) * 3);
  EXPECT_GT(progressCalls, 0);
  EXPECT_EQ(lowerQuality, 2 * 3);  // true colour and mapped, each round
}

}  // namespace
