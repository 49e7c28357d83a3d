// pictool convert --to FORMAT FILE... as a process: every output equal to a
// single conversion's, failures named while the others convert, collisions
// refused before anything is written, an interruption leaving no temporary file.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "picture/core/picture.h"
#include "support/image_peer.h"
#include "support/pictool_run.h"
#include "support/viewer_harness.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PictoolBatch, ConvertsEachFileAsASingleConversionDoes) {
  const std::string folder = makeTempDirectory("pictool-batch"), single = makeTempDirectory("pictool-single");
  std::vector<std::string> inputs;
  for (int i = 0; i < 6; ++i) {
    const std::string path = folder + "/p" + std::to_string(i) + (i % 2 ? ".bmp" : ".ppm");
    const RgbImage image = makeTestImage(40 + i, 30, unsigned(i));
    ASSERT_EQ(picSaveRGB(image.width, image.height, i % 2 ? PIC_DRIVER_BMP : picRegisterExtraDrivers(),
                         image.red.data(), image.green.data(), image.blue.data(), path.c_str()),
              PIC_OK);
    inputs.push_back(path);
  }
  std::vector<uint8_t> cut = readFileBytes(inputs[1]);
  cut.resize(cut.size() / 2);
  ASSERT_TRUE(writeFileBytes(folder + "/cut.bmp", cut));

  std::vector<std::string> arguments = {"convert", "--to", "tiff", "-j", "2", "--out-dir", folder};
  arguments.insert(arguments.end(), inputs.begin(), inputs.end());
  arguments.push_back(folder + "/cut.bmp");
  const ToolRun run = runTool(arguments);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "pictool: " + folder + "/cut.bmp: the data ends early: the file is cut or damaged (rows past the end of the file)\n");
  for (const std::string& input : inputs) {
    const std::string stem = fs::path(input).stem().string();
    ASSERT_EQ(runTool({"convert", input, single + "/" + stem + ".tif"}).exitCode, 0);
    EXPECT_EQ(readFileBytes(folder + "/" + stem + ".tif"), readFileBytes(single + "/" + stem + ".tif")) << stem;
  }
  EXPECT_FALSE(fs::exists(folder + "/cut.tif"));

  // a.ppm and a.bmp would both write a.tif; b.tif would replace itself.
  const std::string clashes = makeTempDirectory("pictool-clash");
  ASSERT_TRUE(writeFileBytes(clashes + "/a.ppm", readFileBytes(inputs[0])));
  ASSERT_TRUE(writeFileBytes(clashes + "/a.bmp", readFileBytes(inputs[1])));
  ASSERT_TRUE(writeFileBytes(clashes + "/b.tif", readFileBytes(folder + "/p1.tif")));
  const ToolRun clash =
      runTool({"convert", "--to", "tiff", clashes + "/a.ppm", clashes + "/a.bmp", clashes + "/b.tif", "-j2"});
  EXPECT_EQ(clash.exitCode, 2);
  EXPECT_EQ(clash.err, "pictool: " + clashes + "/a.ppm: not converted: " + clashes + "/a.bmp would be written to the same " +
                           clashes + "/a.tif\npictool: " + clashes + "/a.bmp: not converted: " + clashes +
                           "/a.ppm would be written to the same " + clashes + "/a.tif\npictool: " + clashes +
                           "/b.tif: not converted: its output " + clashes + "/b.tif would replace it\n");
  EXPECT_EQ(namesIn(clashes), (std::vector<std::string>{"a.bmp", "a.ppm", "b.tif"})) << "nothing written";
}

TEST(PictoolBatch, AnInterruptionLeavesNoTemporaryFile) {
  const std::string folder = makeTempDirectory("pictool-batch-signal");
  const MappedImage image = makeTestMapped(2400, 2000, 256, 9);
  std::vector<std::string> arguments = {"convert", "--to", "zot", "-j", "2"};
  for (int i = 0; i < 4; ++i) {
    const std::string path = folder + "/large" + std::to_string(i) + ".bmp";
    ASSERT_EQ(picSaveMap(image.width, image.height, PIC_DRIVER_BMP, image.indices.data(), 256, image.map.data(),
                         path.c_str()),
              PIC_OK);
    arguments.push_back(path);
  }
  ToolProcess tool(pictoolCommand(arguments), ToolOptions());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const auto pending = [&] {
    const std::vector<std::string> names = namesIn(folder);
    return std::count_if(names.begin(), names.end(), [](const std::string& name) { return name[0] == '.'; });
  };
  while (tool.running() && pending() < 2 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(pending(), 2) << "two saves in flight";
  kill(tool.pid(), SIGINT);
  EXPECT_EQ(tool.wait().exitCode, 130);
  EXPECT_EQ(pending(), 0);
}

}  // namespace
