// Test support for the viewer: a private X server, child processes with a
// deadline, standard error captured, pictures of the viewer's window.
#ifndef TESTS_SUPPORT_VIEWER_HARNESS_H
#define TESTS_SUPPORT_VIEWER_HARNESS_H

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// An Xvfb server on a display number it chose itself (-displayfd), stopped by
// the destructor. start() fails (with a reason) when Xvfb is missing or does
// not come up.
class XvfbServer {
 public:
  XvfbServer() = default;
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;
  ~XvfbServer();
  bool start(std::string* reason);
  const std::string& display() const { return display_; }  // ":N"

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// One server for the whole test program, started on first use; also sets the
// DISPLAY of this process to it. Null (with a reason) when it cannot start.
XvfbServer* sharedXvfb(std::string* reason);

struct ChildOptions {
  std::vector<std::string> argv;   // argv[0] is looked up in PATH when it has no '/'
  std::string workingDirectory;    // empty: this process's
  std::vector<std::string> environment;  // "NAME=value" added to this process's
  std::string stdoutPath;          // empty: /dev/null
  std::string stderrPath;          // empty: /dev/null
};

// Starts a child; -1 when it cannot be forked.
pid_t startChild(const ChildOptions& options);
// Waits up to `seconds` for the child; true with its wait status when it ended.
// On timeout the child is killed and false is returned.
bool waitChild(pid_t pid, double seconds, int* status);
// True while the child runs (it has not been reaped).
bool childRunning(pid_t pid);
// startChild + waitChild; the exit code, or -1 on timeout or a signal.
int runChild(const ChildOptions& options, double seconds);

std::string readFileText(const std::string& path);
// A fresh empty directory under the system's temporary directory, removed with
// its contents when the test program ends.
std::string makeTempDirectory(const std::string& stem);

// Standard error of this process (file descriptor 2) redirected to a file
// while the object lives; text() gives what was written so far.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  std::string text();

 private:
  int saved_ = -1;
  std::string path_;
};

// The viewer's 500 x 500 drawing surface without a window (made once per
// program and kept current); false when no offscreen context can be made.
bool viewerOffscreenContext();

// Window coordinates (origin bottom-left) of a world point under the viewer's
// fixed camera and projection in its 500 x 500 viewport.
struct WindowPoint {
  double x;
  double y;
};
WindowPoint projectToWindow(double x, double y, double z);

// The id of the first visible window titled exactly `title` on DISPLAY, found
// within `seconds`; 0 when there is none.
unsigned long findWindow(const std::string& title, double seconds);

// An RGB picture, row 0 = bottom line, 3 bytes per pixel.
struct Rgb {
  uint8_t r, g, b;
};
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  Rgb at(int x, int y) const;  // y counted from the bottom; black outside
};
// The window's content on DISPLAY through xwd and the outside peer, after
// moving the window to (16, 16) so that all of it is on the screen.
bool captureWindow(unsigned long window, Picture* picture);
// captureWindow again and again until `ready` accepts the picture or `seconds`
// pass: on a busy machine the first frame comes well after the window shows.
// False only when no capture could be made; `picture` holds the last one.
bool captureWindowUntil(unsigned long window, Picture* picture, const std::function<bool(const Picture&)>& ready,
                        double seconds);

#endif
