#include "viewer_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "viewer/offscreenContext.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void redirect(const std::string& path, int fd, int flags) {
  const int target = open(path.empty() ? "/dev/null" : path.c_str(), flags, 0644);
  if (target >= 0) {
    dup2(target, fd);
    close(target);
  }
}

// Mesa's software renderer draws on worker threads unless told otherwise. The
// leak checker of sanitized builds stops every thread at exit and has been seen
// to crash on those; one thread also makes the pictures come out the same on
// every run.
void renderOnOneThread() { setenv("LP_NUM_THREADS", "0", 0); }

// The temporary directories this test program made (captures of whole windows
// and frames among them), removed when it ends so that runs do not pile up.
struct MadeDirectories {
  pid_t owner = getpid();  // a forked child that exits must not remove them
  std::vector<std::string> paths;
};

MadeDirectories& madeDirectories() {
  static auto* made = new MadeDirectories;  // never destroyed: used from atexit
  return *made;
}

void removeMadeDirectories() {
  MadeDirectories& made = madeDirectories();
  if (getpid() != made.owner) return;
  for (const std::string& path : made.paths) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
}

}  // namespace

XvfbServer::~XvfbServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    if (!waitChild(pid_, 5.0, &status)) waitpid(pid_, &status, 0);
  }
}

bool XvfbServer::start(std::string* reason) {
  int fds[2];
  if (pipe(fds) != 0) {
    *reason = "cannot make a pipe";
    return false;
  }
  pid_ = fork();
  if (pid_ < 0) {
    *reason = "cannot fork";
    return false;
  }
  if (pid_ == 0) {
    close(fds[0]);
    redirect("", 0, O_RDONLY);
    redirect("", 1, O_WRONLY);
    redirect("", 2, O_WRONLY);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
           "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  const auto start = std::chrono::steady_clock::now();
  while (secondsSince(start) < 20.0) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 200) > 0) {
      char c;
      const ssize_t n = read(fds[0], &c, 1);
      if (n <= 0) break;  // Xvfb ended without a display number
      if (c == '\n') break;
      number += c;
    }
  }
  close(fds[0]);
  if (number.empty()) {
    int status = 0;
    if (waitChild(pid_, 0.5, &status) && WIFEXITED(status) && WEXITSTATUS(status) == 127) {
      *reason = "Xvfb is not installed (tools/install-deps.sh installs it)";
    } else {
      *reason = "Xvfb did not report a display number";
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return false;
  }
  display_ = ":" + number;
  return true;
}

XvfbServer* sharedXvfb(std::string* reason) {
  static XvfbServer* server = nullptr;
  static std::string failure;
  if (server == nullptr && failure.empty()) {
    auto* candidate = new XvfbServer;
    if (candidate->start(&failure)) {
      server = candidate;
      setenv("DISPLAY", server->display().c_str(), 1);
      // Stopped at exit, so no server outlives the test program.
      std::atexit([] { delete server; });
    } else {
      delete candidate;
    }
  }
  if (server == nullptr) *reason = failure;
  return server;
}

pid_t startChild(const ChildOptions& options) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(126);
  renderOnOneThread();
  for (const std::string& entry : options.environment) putenv(strdup(entry.c_str()));
  redirect("", 0, O_RDONLY);
  redirect(options.stdoutPath, 1, O_WRONLY | O_CREAT | O_TRUNC);
  redirect(options.stderrPath, 2, O_WRONLY | O_CREAT | O_TRUNC);
  std::vector<char*> argv;
  for (const std::string& arg : options.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

bool waitChild(pid_t pid, double seconds, int* status) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const pid_t done = waitpid(pid, status, WNOHANG);
    if (done == pid) return true;
    if (done < 0) return false;
    if (secondsSince(start) > seconds) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, status, 0);
  return false;
}

bool childRunning(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == 0;
}

int runChild(const ChildOptions& options, double seconds) {
  const pid_t pid = startChild(options);
  if (pid < 0) return -1;
  int status = 0;
  if (!waitChild(pid, seconds, &status) || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string readFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string makeTempDirectory(const std::string& stem) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + stem + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return std::string();
  MadeDirectories& made = madeDirectories();
  if (made.paths.empty()) std::atexit(removeMadeDirectories);
  made.paths.emplace_back(buffer.data());
  return made.paths.back();
}

StderrCapture::StderrCapture() {
  path_ = makeTempDirectory("viewer-stderr") + "/stderr.txt";
  std::fflush(stderr);
  saved_ = dup(2);
  redirect(path_, 2, O_WRONLY | O_CREAT | O_TRUNC);
}

StderrCapture::~StderrCapture() {
  std::fflush(stderr);
  if (saved_ >= 0) {
    dup2(saved_, 2);
    close(saved_);
  }
}

std::string StderrCapture::text() {
  std::fflush(stderr);
  return readFileText(path_);
}

bool viewerOffscreenContext() {
  renderOnOneThread();
  static const bool made = openOffscreenContext(500, 500) == 0;
  return made;
}

WindowPoint projectToWindow(double x, double y, double z) {
  // gluLookAt from (0, 60, 120) at the origin, up (0, 1, 0); gluPerspective 45 degrees, aspect 1.
  const double eye[3] = {0.0, 60.0, 120.0};
  const double length = std::sqrt(eye[1] * eye[1] + eye[2] * eye[2]);
  const double forward[3] = {0.0, -eye[1] / length, -eye[2] / length};
  const double side[3] = {1.0, 0.0, 0.0};  // forward x up, normalised
  const double up[3] = {0.0, -forward[2], forward[1]};  // side x forward
  const double d[3] = {x - eye[0], y - eye[1], z - eye[2]};
  const double ex = side[0] * d[0] + side[1] * d[1] + side[2] * d[2];
  const double ey = up[0] * d[0] + up[1] * d[1] + up[2] * d[2];
  const double depth = forward[0] * d[0] + forward[1] * d[1] + forward[2] * d[2];
  const double focal = 1.0 / std::tan(22.5 * kPi / 180.0);
  return {(focal * ex / depth + 1.0) * 250.0, (focal * ey / depth + 1.0) * 250.0};
}

unsigned long findWindow(const std::string& title, double seconds) {
  const std::string out = makeTempDirectory("viewer-find") + "/window.txt";
  const auto start = std::chrono::steady_clock::now();
  while (secondsSince(start) < seconds) {
    ChildOptions search;
    search.argv = {"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"};
    search.stdoutPath = out;
    if (runChild(search, 10.0) == 0) {
      const unsigned long id = std::strtoul(readFileText(out).c_str(), nullptr, 10);
      if (id != 0) return id;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

Rgb Picture::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return {0, 0, 0};
  const size_t i = (static_cast<size_t>(y) * width + x) * 3;
  return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

bool captureWindow(unsigned long window, Picture* picture) {
  // Without a window manager the window may hang over the screen's edge, where
  // it has no pixels to read: bring it fully onto the screen first.
  ChildOptions move;
  move.argv = {"xdotool", "windowmove", "--sync", std::to_string(window), "16", "16"};
  if (runChild(move, 20.0) != 0) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string dir = makeTempDirectory("viewer-capture");
  const std::string command = "xwd -silent -id " + std::to_string(window) + " | convert-im6.q16 xwd:- -depth 8 ppm:" +
                              dir + "/window.ppm";
  ChildOptions shell;
  shell.argv = {"/bin/sh", "-c", command};
  if (runChild(shell, 30.0) != 0) return false;
  const std::string data = readFileText(dir + "/window.ppm");
  std::istringstream in(data);
  std::string magic;
  int maxValue = 0;
  in >> magic;
  for (int* field : {&picture->width, &picture->height, &maxValue}) {
    while ((in >> std::ws).peek() == '#') in.ignore(1 << 20, '\n');  // comment lines
    in >> *field;
  }
  in.get();
  if (magic != "P6" || maxValue != 255 || picture->width <= 0 || picture->height <= 0) return false;
  const size_t row = static_cast<size_t>(picture->width) * 3;
  const size_t offset = static_cast<size_t>(in.tellg());
  if (data.size() < offset + row * picture->height) return false;
  picture->rgb.resize(row * picture->height);
  for (int y = 0; y < picture->height; ++y) {  // PPM is top line first
    std::memcpy(&picture->rgb[row * (picture->height - 1 - y)], data.data() + offset + row * y, row);
  }
  return true;
}

bool captureWindowUntil(unsigned long window, Picture* picture, const std::function<bool(const Picture&)>& ready,
                        double seconds) {
  const auto start = std::chrono::steady_clock::now();
  bool captured = false;
  do {
    if (captureWindow(window, picture)) {
      captured = true;
      if (ready(*picture)) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  } while (secondsSince(start) < seconds);
  return captured;
}
