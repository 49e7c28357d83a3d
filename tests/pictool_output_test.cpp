// Where pictool convert's picture goes, with the tool run as a process: every
// kind of OUT receives exactly the bytes of a plain conversion into a new
// file and stays what it was (a device a device, a link a link, mode 640 640);
// refusals give the system's reason; the signals that end a save leave OUT as
// it was and no temporary file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "picture/core/picture.h"
#include "support/image_peer.h"
#include "support/pictool_run.h"
#include "support/viewer_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A 2 x 2 PPM: the header, then the top row red, green, the bottom row blue, white.
const std::string tinyPpm = std::string("P6\n2 2\n255\n") +
                            std::string("\xff\x00\x00" "\x00\xff\x00" "\x00\x00\xff" "\xff\xff\xff", 12);

void writeText(const std::string& path, const std::string& text) {
  ASSERT_TRUE(writeFileBytes(path, std::vector<uint8_t>(text.begin(), text.end())));
}

std::vector<std::string> sortedNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// What a person sees of each entry of a folder: kind and permissions, owner,
// where a link points, and the bytes of a regular file not in `changing`.
std::map<std::string, std::string> describeFolder(const std::string& folder, const std::vector<std::string>& changing) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string path = entry.path().string(), name = entry.path().filename().string();
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) continue;
    std::string& seen = entries[name];
    seen = std::to_string(status.st_mode) + " " + std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid);
    if (S_ISLNK(status.st_mode)) seen += " -> " + fs::read_symlink(path).string();
    if (S_ISREG(status.st_mode) && std::find(changing.begin(), changing.end(), name) == changing.end())
      seen += " " + readFileText(path);
  }
  return entries;
}

// The bytes of a plain conversion of `input` into a new regular file.
std::string plainConversion(const std::string& input) {
  const std::string output = makeTempDirectory("pictool-plain") + "/plain.bmp";
  const ToolRun run = runTool({"convert", input, output, "--format", "bmp"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return readFileText(output);
}

const bool asRoot = geteuid() == 0;

struct OutputCase {
  const char* what;
  const char* setup;  // shell commands run in the folder first: what OUT meets; null: none
  std::string out;    // OUT in the folder, or "-"
  std::vector<std::string> receivers;  // files of the folder that get the picture
  int exitCode;
  std::string message;  // after "pictool: OUT: " on standard error; empty: nothing there
  const char* user;     // run as this user; null: as the test
  bool inputOnStdin;    // IN is "-"
  bool needsRoot;
};

TEST(PictoolOutput, EveryKindOfOutGetsThePicture) {
  const std::string plain = makeTempDirectory("pictool-in") + "/in.ppm";
  writeText(plain, tinyPpm);
  const std::string expected = plainConversion(plain);
  ASSERT_FALSE(expected.empty());
  const std::string temporaryFolder = makeTempDirectory("pictool-tmp");  // the tool's TMPDIR
  const std::string longest(251, 'n'), tooLong(252, 'n');
  const OutputCase cases[] = {
      {"a character device", "mknod null c 1 3", "null", {}, 0, "", nullptr, false, true},
      {"a FIFO with a reader", "mkfifo fifo", "fifo", {}, 0, "", nullptr, false, false},
      {"a symbolic link to a file", "echo old > target.bmp && ln -s target.bmp link.bmp", "link.bmp",
       {"target.bmp"}, 0, "", nullptr, false, false},
      {"a chain of links to no file", "ln -s new.bmp second && ln -s second first", "first", {"new.bmp"}, 0, "",
       nullptr, false, false},
      {"a file with a second hard link", "echo old > first.bmp && ln first.bmp second.bmp", "first.bmp",
       {"first.bmp", "second.bmp"}, 0, "", nullptr, false, false},
      {"a mode 640 file of another owner",
       asRoot ? "echo old > kept.bmp && chmod 640 kept.bmp && chown nobody:nogroup kept.bmp"
              : "echo old > kept.bmp && chmod 640 kept.bmp",
       "kept.bmp", {"kept.bmp"}, 0, "", nullptr, false, false},
      {"a read-only file of another user, in a folder they may write", "echo theirs > theirs.bmp && chmod 777 .",
       "theirs.bmp", {}, 2, "cannot write it: Permission denied", "nobody", false, true},
      {"standard output", nullptr, "-", {}, 0, "", nullptr, false, false},
      {"a 255-byte name", nullptr, longest + ".bmp", {longest + ".bmp"}, 0, "", nullptr, false, false},
      {"a 256-byte name", nullptr, tooLong + ".bmp", {}, 2, "cannot create it: File name too long", nullptr, false,
       false},
      {"a missing folder", nullptr, "missing/out.bmp", {}, 2, "cannot create it: No such file or directory", nullptr,
       false, false},
      {"standard input as IN", nullptr, "from-stdin.bmp", {"from-stdin.bmp"}, 0, "", nullptr, true, false},
  };
  std::string skipped;
  for (const OutputCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && !asRoot) {
      skipped += std::string(skipped.empty() ? "" : ", ") + c.what;
      continue;
    }
    const std::string folder = makeTempDirectory("pictool-output"), input = folder + "/in.ppm";
    writeText(input, tinyPpm);
    ASSERT_TRUE(!c.setup || runCommand("cd '" + folder + "' && " + c.setup));
    // Another user runs a copy in the folder: the build tree may lie where only we may go.
    std::string tool = SOLSYS_PICTOOL;
    if (c.user) {
      tool = folder + "/pictool";
      fs::copy_file(SOLSYS_PICTOOL, tool);
      fs::permissions(tool, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    }
    const std::map<std::string, std::string> before = describeFolder(folder, c.receivers);
    const std::string out = c.out == "-" ? c.out : folder + "/" + c.out;
    const std::vector<std::string> readFifo = {"/bin/cat", out};
    std::error_code noSuchFile;
    std::unique_ptr<ToolProcess> reader;
    if (fs::is_fifo(out, noSuchFile)) reader = std::make_unique<ToolProcess>(readFifo, ToolOptions());

    ToolOptions options;
    options.environment = {"TMPDIR=" + temporaryFolder};
    if (c.user) options.user = c.user;
    if (c.inputOnStdin) options.stdinPath = input;
    const ToolRun run = runProgram({tool, "convert", c.inputOnStdin ? "-" : input, out, "--format", "bmp"}, options);

    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(run.err, c.message.empty() ? "" : "pictool: " + out + ": " + c.message + "\n");
    EXPECT_TRUE(c.out == "-" ? run.out == expected : run.out.empty()) << run.out.size() << " bytes on standard output";
    if (reader) {
      const int writer = open(out.c_str(), O_WRONLY | O_NONBLOCK);  // ends the wait of a reader nobody wrote to
      if (writer >= 0) close(writer);
      EXPECT_TRUE(reader->wait().out == expected) << "the FIFO's reader did not get the picture";
    }
    for (const std::string& receiver : c.receivers)
      EXPECT_TRUE(readFileText(folder + "/" + receiver) == expected) << receiver << " does not hold the picture";
    std::map<std::string, std::string> after = describeFolder(folder, c.receivers);
    for (const std::string& receiver : c.receivers)
      if (!before.count(receiver)) after.erase(receiver);
    EXPECT_EQ(after, before);
    EXPECT_EQ(sortedNames(temporaryFolder), std::vector<std::string>{});
  }
  if (!skipped.empty())
    GTEST_SKIP() << "only root makes devices and runs the tool as another user; not run: " << skipped;
}

// True once `ready` holds, false when the tool ends or a minute passes first.
bool waitWhileRunning(ToolProcess& tool, const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (; tool.running() && std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(1ms))
    if (ready()) return true;
  return false;
}

TEST(PictoolOutput, EndingSignalsLeaveOutAsItWas) {
  const struct {
    int signal;
    long fileSizeLimit;  // -1: the test sends the signal
  } cases[] = {
      {SIGINT, -1}, {SIGTERM, -1}, {SIGHUP, -1}, {SIGPIPE, -1}, {SIGQUIT, -1},
      {SIGXFSZ, 1 << 20},  // from the system, as the save passes the limit
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(strsignal(c.signal));
    const std::string folder = makeTempDirectory("pictool-signal"), out = folder + "/large.zot";
    writeText(out, "old");
    ToolOptions options;
    options.fileSizeLimit = c.fileSizeLimit;
    ToolProcess tool(pictoolCommand({"convert", largeMappedBmp(), out}), options);
    if (c.fileSizeLimit < 0) {
      // The temporary file beside OUT: the save has begun.
      ASSERT_TRUE(waitWhileRunning(tool, [&] { return sortedNames(folder).size() > 1; })) << "the save ended first";
      std::this_thread::sleep_for(20ms);
      kill(tool.pid(), c.signal);
    }
    EXPECT_EQ(tool.wait().exitCode, 128 + c.signal);
    EXPECT_EQ(sortedNames(folder), std::vector<std::string>{"large.zot"});
    EXPECT_EQ(readFileText(out), "old");
  }

  // A signal while the picture is copied into a FIFO waits for the copy: the
  // reader gets all of it, then the tool ends.
  const std::string fifo = makeTempDirectory("pictool-held") + "/fifo";
  const std::string temporaryFolder = makeTempDirectory("pictool-tmp");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ToolOptions options;
  options.environment = {"TMPDIR=" + temporaryFolder};
  ToolProcess tool(pictoolCommand({"convert", largeMappedBmp(), fifo, "--format", "bmp"}), options);
  const int capacity = fcntl(reader, F_GETPIPE_SZ);
  int queued = 0;
  ASSERT_TRUE(waitWhileRunning(tool, [&] { return ioctl(reader, FIONREAD, &queued) == 0 && queued == capacity; }))
      << "the copy into the FIFO never filled it";
  kill(tool.pid(), SIGINT);
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(tool.running()) << "the signal did not wait for the copy";
  fcntl(reader, F_SETFL, 0);
  std::string received;
  char buffer[1 << 16];
  for (ssize_t got; (got = read(reader, buffer, sizeof buffer)) > 0;) received.append(buffer, size_t(got));
  close(reader);
  EXPECT_EQ(tool.wait().exitCode, 128 + SIGINT);
  EXPECT_TRUE(received == plainConversion(largeMappedBmp())) << received.size() << " bytes received";
  EXPECT_EQ(sortedNames(temporaryFolder), std::vector<std::string>{});
}

}  // namespace
