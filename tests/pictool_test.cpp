// pictool run as a process: info on every format, conversions between every
// pair of the eleven formats, the quantiser through the tool, messages and
// exit statuses for bad files and command lines, the temporary output under
// SIGINT and SIGTERM, and the progress bar on a terminal.
//
// What the pairs may lose: JPEG is lossy (compared within a mean tolerance);
// GIF and ZOT hold colour maps only, so a JPEG source (more than 256 colours)
// is quantised for them; every other pair is compared pixel for pixel.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "picture/core/picture.h"
#include "picture/core/quantise.h"
#include "support/image_peer.h"
#include "support/pictool_run.h"
#include "support/synthetic_photo.h"
#include "support/viewer_harness.h"

namespace {

namespace fs = std::filesystem;

// The test program reads what the tool writes, PNM and PNG included.
const int extraDrivers = picRegisterExtraDrivers();

const double jpegTolerance = 3.0;     // mean absolute difference per sample
const double quantiseTolerance = 4.0;

struct FormatCase {
  const char* extension;
  const char* name;
  bool mapOnly;
  bool lossy;
};

const FormatCase formats[] = {
    {"bmp", "bmp", false, false}, {"pcx", "pcx", false, false}, {"gif", "gif", true, false},
    {"tif", "tiff", false, false}, {"ras", "sun", false, false}, {"sgi", "sgi", false, false},
    {"jpg", "jpeg", false, true},  {"zot", "zot", true, false},  {"tga", "tga", false, false},
    {"ppm", "pnm", false, false},  {"png", "png", false, false},
};

std::vector<std::string> sortedNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A smooth picture of 200 colours, and one source file per format made from
// it by the tool, with the library's decode of each.
class PictoolFormats : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_GE(extraDrivers, 0);
    const RgbImage photo = makePhotoLikeImage(48, 32);
    std::vector<uint8_t> indices(photo.red.size());
    std::vector<int32_t> map(PIC_MAX_COLOURS);
    int colours = 0;
    ASSERT_EQ(picQuantise(photo.width, photo.height, photo.red.data(), photo.green.data(), photo.blue.data(), 200,
                          0, indices.data(), map.data(), &colours),
              PIC_OK);
    baseColours_ = colours;
    base_ = RgbImage(photo.width, photo.height);
    picMapToRGB(photo.width, photo.height, indices.data(), colours, map.data(), base_.red.data(),
                base_.green.data(), base_.blue.data());
    ASSERT_EQ(picSaveRGB(base_.width, base_.height, PIC_DRIVER_BMP, base_.red.data(), base_.green.data(),
                         base_.blue.data(), tempPath("base.bmp").c_str()),
              PIC_OK);
    for (const FormatCase& format : formats) {
      const std::string source = sourcePath(format);
      ASSERT_EQ(runTool({"convert", tempPath("base.bmp"), source}).exitCode, 0) << source;
      ASSERT_EQ(libraryLoadRGB(source, &decoded_[format.name]), PIC_OK) << source;
    }
  }

  static std::string sourcePath(const FormatCase& format) {
    return tempPath(std::string("source.") + format.extension);
  }

  static RgbImage base_;
  static int baseColours_;  // the distinct colours of base_
  static std::map<std::string, RgbImage> decoded_;
};

RgbImage PictoolFormats::base_;
int PictoolFormats::baseColours_;
std::map<std::string, RgbImage> PictoolFormats::decoded_;

TEST_F(PictoolFormats, InfoDescribesEveryFormat) {
  const std::map<std::string, std::string> expected = {
      {"bmp", "bmp\t0x000\t48x32\trgb\t0\tnone"},  {"pcx", "pcx\t0x101\t48x32\trgb\t0\trle"},
      {"gif", "gif\t0x102\t48x32\tmap\t256\trle"}, {"tiff", "tiff\t0x203\t48x32\trgb\t0\tlzw"},
      {"sun", "sun\t0x004\t48x32\trgb\t0\tnone"},  {"sgi", "sgi\t0x005\t48x32\trgb\t0\tnone"},
      {"jpeg", "jpeg\t0x106\t48x32\trgb\t0\trle"}, {"zot", "zot\t0x007\t48x32\tmap\t256\tnone"},
      {"tga", "tga\t0x008\t48x32\trgb\t0\tnone"},  {"pnm", "pnm\t0x009\t48x32\trgb\t0\tnone"},
      {"png", "png\t0x10a\t48x32\trgb\t0\trle"},
  };
  std::vector<std::string> arguments = {"info"};
  std::string lines;
  for (const FormatCase& format : formats) {
    arguments.push_back(sourcePath(format));
    lines += sourcePath(format) + "\t" + expected.at(format.name) + "\n";
  }
  const ToolRun run = runTool(arguments);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, lines);
  EXPECT_EQ(run.err, "");
}

TEST_F(PictoolFormats, EveryPairConverts) {
  for (const FormatCase& from : formats)
    for (const FormatCase& to : formats) {
      const std::string output = tempPath(std::string("pair-") + from.name + "." + to.extension);
      const ToolRun run = runTool({"convert", sourcePath(from), output});
      ASSERT_EQ(run.exitCode, 0) << from.name << " to " << to.name << ": " << run.err;
      RgbImage result;
      ASSERT_EQ(libraryLoadRGB(output, &result), PIC_OK) << output;
      const RgbImage& source = decoded_[from.name];
      if (to.lossy)
        EXPECT_LT(meanAbsoluteError(result, source), jpegTolerance) << from.name << " to " << to.name;
      else if (from.lossy && to.mapOnly)
        EXPECT_LT(meanAbsoluteError(result, source), quantiseTolerance) << from.name << " to " << to.name;
      else
        EXPECT_EQ(countDifferences(result, source), 0u) << from.name << " to " << to.name;
      fs::remove(output);
    }
}

// JPEG and SGI store a map as grey: a grey map goes to them colour-mapped,
// any other as true colour (the pairs above check the pixels of those).
TEST_F(PictoolFormats, MapsGoToGreyWritersAsGreyOrTrueColour) {
  MappedImage grey = makeTestMapped(20, 10, 30, 4);
  for (int i = 0; i < 30; ++i) grey.map[i] = picEncodeColour(i * 8, i * 8, i * 8);
  const std::string greyGif = tempPath("grey.gif");
  ASSERT_EQ(picSaveMap(20, 10, PIC_DRIVER_GIF | PIC_COMP_LZW, grey.indices.data(), 30, grey.map.data(),
                       greyGif.c_str()),
            PIC_OK);
  const struct {
    std::string source, output, mode;
  } cases[] = {
      {greyGif, tempPath("grey.sgi"), "map"},
      {greyGif, tempPath("grey.jpg"), "map"},
      {sourcePath(formats[2]), tempPath("colour.sgi"), "rgb"},
      {sourcePath(formats[2]), tempPath("colour.jpg"), "rgb"},
      {sourcePath(formats[2]), tempPath("colour.pgm"), "map"},  // named grey: grey levels, P5
  };
  for (const auto& c : cases) {
    ASSERT_EQ(runTool({"convert", c.source, c.output}).exitCode, 0) << c.output;
    const ToolRun info = runTool({"info", c.output});
    EXPECT_NE(info.out.find("\t" + c.mode + "\t"), std::string::npos) << info.out;
  }
  RgbImage expected = mappedToRgb(grey), result;
  ASSERT_EQ(libraryLoadRGB(tempPath("grey.sgi"), &result), PIC_OK);
  EXPECT_EQ(countDifferences(result, expected), 0u);

  const std::vector<uint8_t> pgm = readFileBytes(tempPath("colour.pgm"));
  EXPECT_EQ(std::string(pgm.begin(), pgm.begin() + 2), "P5");
  const RgbImage& colour = decoded_["gif"];
  RgbImage greyLevels = colour;
  for (size_t i = 0; i < colour.red.size(); ++i)
    greyLevels.red[i] = greyLevels.green[i] = greyLevels.blue[i] =
        uint8_t(picGreyLevel(colour.red[i], colour.green[i], colour.blue[i]));
  ASSERT_EQ(libraryLoadRGB(tempPath("colour.pgm"), &result), PIC_OK);
  EXPECT_EQ(countDifferences(result, greyLevels), 0u);
}

TEST(Pictool, QuantisesAPhotographForGifWithBoundedError) {
  const RgbImage photo = makePhotoLikeImage(160, 120, 7);
  ASSERT_TRUE(writePpm(tempPath("photo.ppm"), photo));
  for (const char* option : {"--quiet", "--dither"}) {
    const std::string output = tempPath(std::string("photo") + option + ".gif");
    ASSERT_EQ(runTool({"convert", tempPath("photo.ppm"), output, option}).exitCode, 0);
    RgbImage result;
    ASSERT_EQ(libraryLoadRGB(output, &result), PIC_OK);
    EXPECT_LT(meanAbsoluteError(result, photo), option == std::string("--dither") ? 6.0 : 4.0) << option;
  }
}

TEST(Pictool, CommandLineErrorsAndHelp) {
  const RgbImage image = makeTestImage(8, 8);
  ASSERT_TRUE(writePpm(tempPath("small.ppm"), image));
  const std::string in = tempPath("small.ppm");
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    std::string out, err;  // texts the output must contain
  } cases[] = {
      {{"--help"}, 0, "Exit status:", ""},
      {{"--version"}, 0, picVersion(), ""},
      {{}, 1, "", "no command given"},
      {{"resize", in}, 1, "", "unknown command 'resize'"},
      {{"info"}, 1, "", "info needs at least one file"},
      {{"convert", in}, 1, "", "convert takes an input and an output file"},
      {{"convert", in, tempPath("out.xyz")}, 1, "", "cannot tell the format of"},
      {{"convert", in, tempPath("out"), "--format", "webp"}, 1, "", "unknown format 'webp'"},
      {{"convert", in, tempPath("out.bmp"), "--compression", "zip"}, 1, "", "bmp files are not written with compression 'zip'"},
      {{"convert", in, tempPath("out.jpg"), "--compression", "none"}, 1, "", "jpeg files are not written with compression 'none'"},
      {{"convert", in, tempPath("out.sun"), "--compression", "rle"}, 1, "", "sun files are not written with compression 'rle'"},
      {{"convert", in, tempPath("out.bmp"), "--compression", "rle"}, 1, "", "only from colour-mapped pictures"},
      {{"convert", in, tempPath("out.jpg"), "--quality", "101"}, 1, "", "--quality takes a number from 1 to 100"},
      {{"convert", in, tempPath("out.bmp"), "--max-pixels", "-5"}, 1, "", "--max-pixels takes a number of pixels"},
      {{"convert", in, "-"}, 1, "", "writing to standard output needs --format"},
      {{"info", in, "--dither"}, 1, "", "unknown option --dither"},
      {{"convert", in, tempPath("out.bmp"), "--format"}, 1, "", "--format needs a value"},
      {{"convert", in, tempPath("out.bmp"), "--loud"}, 1, "", "unknown option --loud"},
      {{"convert", in, tempPath("out"), "--format=tga", "--compression=rle"}, 0, "", ""},
  };
  for (const auto& c : cases) {
    const ToolRun run = runTool(c.arguments);
    const std::string what = c.arguments.empty() ? "(none)" : c.arguments[0];
    EXPECT_EQ(run.exitCode, c.exitCode) << what << ": " << run.err;
    EXPECT_NE(run.out.find(c.out), std::string::npos) << what << ": " << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << what << ": " << run.err;
  }
  const std::string help = runTool({"--help"}).out;
  for (const char* word : {"info [--max-pixels N] [-j N] FILE", "convert IN OUT", "convert --to FORMAT", "--format", "--compression", "--dither", "--quiet",
                           "--version", "130", "143"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
}

TEST(Pictool, BadFilesNameTheFileAndTheStatus) {
  const std::string folder = makeTempDirectory("pictool-bad");
  const std::string good = folder + "/good.bmp", missing = folder + "/missing.bmp";
  const std::string unknown = folder + "/unknown.bmp", truncated = folder + "/truncated.bmp";
  const RgbImage image = makeTestImage(40, 30);
  ASSERT_EQ(picSaveRGB(40, 30, PIC_DRIVER_BMP, image.red.data(), image.green.data(), image.blue.data(),
                       good.c_str()),
            PIC_OK);
  std::vector<uint8_t> bytes = readFileBytes(good);
  bytes.resize(bytes.size() / 2);
  ASSERT_TRUE(writeFileBytes(truncated, bytes));
  ASSERT_TRUE(writeFileBytes(unknown, {'h', 'e', 'l', 'l', 'o', '\n'}));
  ASSERT_TRUE(writeFileBytes(folder + "/empty.bmp", {}));
  fs::create_directory(folder + "/taken.bmp");

  const ToolRun info = runTool({"info", missing, good, unknown});
  EXPECT_EQ(info.exitCode, 2);
  EXPECT_EQ(info.out.substr(0, good.size() + 5), good + "\tbmp\t");
  EXPECT_EQ(info.err, "pictool: " + missing + ": cannot open it: No such file or directory\npictool: " + unknown +
                          ": not a picture pictool reads (no driver recognises the file)\n");

  const struct {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {{missing, folder + "/out.gif"}, missing + ": cannot open it: No such file or directory"},
      {{unknown, folder + "/out.gif"}, unknown + ": not a picture pictool reads (no driver recognises the file)"},
      {{truncated, folder + "/out.gif"}, truncated + ": the data ends early: the file is cut or damaged (rows past the end of the file)"},
      {{folder, folder + "/out.gif"}, folder + ": is a folder, not a picture"},
      {{folder + "/empty.bmp", folder + "/out.gif"}, folder + "/empty.bmp: the file is empty"},
      {{good, "/nonexistent-folder/out.gif"}, "/nonexistent-folder/out.gif: cannot create it: No such file or directory"},
      {{good, folder + "/taken.bmp"}, folder + "/taken.bmp: cannot write it: Is a directory"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"convert"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ToolRun run = runTool(arguments);
    EXPECT_EQ(run.exitCode, 2) << c.message;
    EXPECT_EQ(run.err, "pictool: " + c.message + "\n");
  }
  // Nothing written, nothing left behind under a temporary name.
  EXPECT_EQ(sortedNames(folder),
            (std::vector<std::string>{"empty.bmp", "good.bmp", "taken.bmp", "truncated.bmp", "unknown.bmp"}));
}

// The input is read once, so that its description and its pixels come from
// the same bytes: a named pipe converts like a file.
TEST(Pictool, ReadsItsInputOnce) {
  const RgbImage image = makeTestImage(30, 20);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(memorySaveRGB(image, PIC_DRIVER_BMP, &bytes), PIC_OK);
  const std::string pipe = tempPath("pipe.bmp"), output = tempPath("from-pipe.tga");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::signal(SIGPIPE, SIG_IGN);
  std::thread writer([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int fd;  // non-blocking open: it fails until the tool opens the pipe
    while ((fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (fd < 0) return;
    fcntl(fd, F_SETFL, 0);
    (void)!write(fd, bytes.data(), bytes.size());
    close(fd);
  });
  const ToolRun run = runTool({"convert", pipe, output});
  writer.join();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  RgbImage result;
  ASSERT_EQ(libraryLoadRGB(output, &result), PIC_OK);
  EXPECT_EQ(countDifferences(result, image), 0u);
}

TEST(Pictool, SignalsDuringASaveLeaveNoFile) {
  const struct {
    int signal, exitCode;
  } cases[] = {{SIGINT, 130}, {SIGTERM, 143}};
  for (const auto& c : cases) {
    const std::string folder = makeTempDirectory("pictool-signal");
    ChildOptions options;
    options.argv = {SOLSYS_PICTOOL, "convert", largeMappedBmp(), folder + "/large.zot"};
    const pid_t child = startChild(options);
    ASSERT_GT(child, 0);
    bool seen = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!seen && childRunning(child) && std::chrono::steady_clock::now() < deadline) {
      seen = !sortedNames(folder).empty();  // the temporary file exists: the save has begun
      if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(seen) << "the save ended before it could be interrupted";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(child, c.signal);
    int status = 0;
    ASSERT_TRUE(waitChild(child, 60, &status));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.exitCode);
    EXPECT_EQ(sortedNames(folder), std::vector<std::string>{});
  }
}

// Standard error of the tool on a pseudo-terminal of `columns`, read to its end.
std::string terminalOutput(const std::vector<std::string>& arguments, unsigned short columns = 80) {
  int terminal = -1;
  struct winsize size = {};
  size.ws_row = 24;
  size.ws_col = columns;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
  if (child == 0) {
    std::vector<char*> argv = {const_cast<char*>(SOLSYS_PICTOOL)};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) output.append(buffer, size_t(n));
  close(terminal);
  waitpid(child, nullptr, 0);
  return output;
}

// The bar's redraws: the text between carriage returns, the erase sequence taken out.
std::vector<std::string> barDrawings(std::string shown) {
  for (size_t at; (at = shown.find("\033[K")) != std::string::npos;) shown.erase(at, 3);
  std::vector<std::string> drawings;
  for (size_t start = 0, end; start < shown.size(); start = end + 1) {
    end = std::min(shown.find('\r', start), shown.size());
    if (end > start) drawings.push_back(shown.substr(start, end - start));
  }
  return drawings;
}

TEST(Pictool, ProgressBarOnATerminalOnly) {
  const RgbImage photo = makeTestImage(1200, 1000);
  const std::string colours = tempPath("large-rgb.bmp");
  ASSERT_EQ(picSaveRGB(photo.width, photo.height, PIC_DRIVER_BMP, photo.red.data(), photo.green.data(),
                       photo.blue.data(), colours.c_str()),
            PIC_OK);
  const std::string longName = tempPath(std::string(120, 'n') + ".gif");
  const struct {
    std::string input, output;
    unsigned short columns;
    std::vector<std::string> stages;
  } cases[] = {
      {largeMappedBmp(), tempPath("progress.tga"), 80, {"decoding ", "writing "}},
      {colours, longName, 80, {"decoding ", "reducing colours ", "writing "}},
      {colours, longName, 32, {"decoding ", "reducing colours ", "writing "}},
  };
  for (const auto& c : cases) {
    const std::string shown = terminalOutput({"convert", c.input, c.output}, c.columns);
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << "the bar is erased at the end";
    const std::vector<std::string> drawings = barDrawings(shown);
    for (const std::string& drawing : drawings) EXPECT_LT(drawing.size(), c.columns) << drawing;
    for (const std::string& stage : c.stages) {
      const bool drawn = std::any_of(drawings.begin(), drawings.end(), [&](const std::string& drawing) {
        return drawing.compare(0, stage.size(), stage) == 0 && drawing.find("] 100%") != std::string::npos;
      });
      EXPECT_TRUE(drawn) << stage << "in " << c.columns << " columns";
    }
  }
  EXPECT_EQ(terminalOutput({"convert", largeMappedBmp(), tempPath("quiet.tga"), "--quiet"}), "");
  const ToolRun piped = runTool({"convert", largeMappedBmp(), tempPath("piped.tga")});
  EXPECT_EQ(piped.exitCode, 0);
  EXPECT_EQ(piped.err, "");
}

}  // namespace

namespace {

// The horizontal resolution in dots per inch that `identify` reads of a file, rounded; -1 for none.
int peerDotsPerInch(const std::string& path) {
  const std::string out = tempPath("density.txt");
  if (!runCommand("identify-im6.q16 -format '%x %U' '" + path + "' > '" + out + "' 2>/dev/null")) return -1;
  double value = 0;
  char unit[64] = "";
  if (std::sscanf(readFileText(out).c_str(), "%lf %63s", &value, unit) != 2) return -1;
  if (std::string(unit) == "PixelsPerCentimeter") value *= 2.54;
  return std::string(unit) == "Undefined" ? -1 : int(value + 0.5);
}

}  // namespace

// What reaches the tool other than a plain picture file: standard input, a
// FORMAT: prefix, streams of no picture, pictures over the pixel limit or of a
// variant that does not load, and data past what the picture can need.
TEST(Pictool, InputsAreBoundedAndRefusalsSayWhy) {
  const std::string folder = makeTempDirectory("pictool-input");
  const RgbImage image = makeTestImage(30, 20);
  const std::string ppm = folder + "/small.ppm", padded = folder + "/padded.ppm";
  ASSERT_TRUE(writePpm(ppm, image));
  std::vector<uint8_t> bytes = readFileBytes(ppm);
  bytes.resize(bytes.size() + (size_t(65) << 20));  // zeros past the 64 MB of slack
  ASSERT_TRUE(writeFileBytes(padded, bytes));
  const std::string cmyk = folder + "/cmyk.tif";
  ASSERT_TRUE(runCommand(std::string(peerConvert()) + " '" + ppm + "' -colorspace CMYK '" + cmyk + "'"));

  const struct {
    std::vector<std::string> arguments;
    std::string stdinPath;
    int exitCode;
    std::string out, err;  // texts they must contain ("" for err: nothing on standard error)
  } cases[] = {
      {{"info", "-"}, ppm, 0, "standard input\tpnm\t0x009\t30x20\trgb", ""},
      {{"info", "/dev/stdin"}, ppm, 0, "/dev/stdin\tpnm", ""},
      {{"convert", "-", "tga:" + folder + "/prefixed.out"}, ppm, 0, "", ""},
      {{"info", "/dev/zero"}, "", 2, "", "/dev/zero: not a picture pictool reads"},
      {{"convert", "-", folder + "/zero.png"}, "/dev/zero", 2, "", "standard input: not a picture pictool reads"},
      {{"info", ppm, "--max-pixels", "599"}, "", 2, ppm + "\tpnm\t0x009\t30x20",
       "30 x 20 = 600 pixels, over the limit of 599 (--max-pixels N raises it, 0 lifts it)"},
      {{"convert", ppm, folder + "/limited.png", "--max-pixels=599"}, "", 2, "", "over the limit of 599"},
      {{"convert", ppm, folder + "/unlimited.png", "--max-pixels=0"}, "", 0, "", ""},
      {{"info", cmyk}, "", 2, cmyk + "\ttiff", cmyk + ": this kind of picture is not supported"},
      {{"convert", cmyk, folder + "/cmyk.png"}, "", 2, "", cmyk + ": this kind of picture is not supported"},
      {{"convert", padded, folder + "/padded.png"}, "", 0, "", "reading stopped after 64 MB, more than a 30 x 20"},
  };
  for (const auto& c : cases) {
    ToolOptions options;
    options.stdinPath = c.stdinPath;
    const ToolRun run = runTool(c.arguments, options);
    const std::string what = c.arguments[0] + " " + c.arguments[1];
    EXPECT_EQ(run.exitCode, c.exitCode) << what << ": " << run.err;
    EXPECT_NE(run.out.find(c.out), std::string::npos) << what << ": " << run.out;
    if (c.err.empty())
      EXPECT_EQ(run.err, "") << what;
    else
      EXPECT_NE(run.err.find(c.err), std::string::npos) << what << ": " << run.err;
  }
  RgbImage result;
  ASSERT_EQ(libraryLoadRGB(folder + "/prefixed.out", &result), PIC_OK);
  EXPECT_EQ(countDifferences(result, image), 0u);
  EXPECT_FALSE(fs::exists(folder + "/zero.png") || fs::exists(folder + "/cmyk.png") || fs::exists(folder + "/limited.png"));
}

// The input's resolution reaches every output that stores one; --quality
// reaches the JPEG writer.
TEST(Pictool, ResolutionAndQualityReachTheOutput) {
  const std::string folder = makeTempDirectory("pictool-resolution");
  const RgbImage image = makeTestImage(64, 48);
  const std::string ppm = folder + "/in.ppm", jpeg = folder + "/in.jpg";
  ASSERT_TRUE(writePpm(ppm, image));
  ASSERT_TRUE(runCommand(std::string(peerConvert()) + " '" + ppm + "' -units PixelsPerInch -density 300 '" + jpeg + "'"));
  for (const char* extension : {"tif", "bmp", "jpg", "pcx", "png"}) {
    const std::string out = folder + "/out." + extension;
    const ToolRun run = runTool({"convert", jpeg, out});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(peerDotsPerInch(out), 300) << extension;
  }
  ASSERT_EQ(runTool({"convert", ppm, folder + "/q50.jpg", "--quality", "50"}).exitCode, 0);
  ASSERT_EQ(runTool({"convert", ppm, folder + "/q100.jpg"}).exitCode, 0);
  EXPECT_LT(fs::file_size(folder + "/q50.jpg") * 2, fs::file_size(folder + "/q100.jpg"));
}
