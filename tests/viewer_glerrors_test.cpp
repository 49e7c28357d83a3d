// The OpenGL error collector: the diagnostic header, the report in each mode,
// the stopping rules, bounded text, and the modal dialog of mode 1 dismissed by
// a synthetic key and by a click.
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/viewer_harness.h"
#include "viewer/glErrors.h"

namespace {

const std::string kHeader = "\n Arquivo fonte: /src/viewer/scene.cpp  \n Linha: 42  compilacao: Jan  5 2024-12:34:56\n";

std::string describe(GLenum error) { return reinterpret_cast<const char*>(gluErrorString(error)); }

void raiseInvalidEnum() { glMatrixMode(GL_TEXTURE_2D); }
void raiseInvalidValue() { glLineWidth(-1.0f); }

class GlErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(viewerOffscreenContext()) << "no offscreen OpenGL context";
    while (glGetError() != GL_NO_ERROR) {
    }
  }
};

// Runs reportGLErrors with standard error captured.
std::string reportCaptured(const std::string& header, int mode) {
  StderrCapture capture;
  reportGLErrors(header.c_str(), mode);
  return capture.text();
}

TEST(GlErrorsHeader, FormatsFileLineDateAndTime) {
  char header[DIAGNOSTIC_HEADER_SIZE];
  formatDiagnosticHeader(header, sizeof header, "/src/viewer/scene.cpp", 42, "Jan  5 2024", "12:34:56");
  EXPECT_EQ(header, kHeader);

  const int line = __LINE__ + 1;
  FORMAT_DIAGNOSTIC_HEADER(header);
  const std::string expected = std::string("\n Arquivo fonte: ") + __FILE__ + "  \n Linha: " + std::to_string(line) +
                               "  compilacao: " + __DATE__ + "-" + __TIME__ + "\n";
  EXPECT_EQ(header, expected);

  char small[16];
  formatDiagnosticHeader(small, sizeof small, "/a/very/long/path/name.cpp", 1, "Jan  1 2000", "00:00:00");
  EXPECT_EQ(std::string(small), std::string("\n Arquivo fonte: /a/very").substr(0, sizeof small - 1));
}

TEST_F(GlErrorsTest, NoPendingErrorWritesNothingInAnyMode) {
  for (int mode : {0, 1, 2, -7}) {
    EXPECT_EQ(reportCaptured(kHeader, mode), "") << "mode " << mode;
  }
}

TEST_F(GlErrorsTest, ConsoleModeWritesOneReport) {
  raiseInvalidEnum();
  EXPECT_EQ(reportCaptured(kHeader, GL_REPORT_CONSOLE),
            "\nErro no OpenGL: " + kHeader + "\n Mensagem OpenGL: " + describe(GL_INVALID_ENUM) + "\n");
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GlErrorsTest, TwoDistinctErrorsGiveTwoLines) {
  raiseInvalidEnum();
  raiseInvalidValue();
  const std::string report = reportCaptured(kHeader, GL_REPORT_CONSOLE);
  // OpenGL may keep both flags or only the first; every flag it kept is reported once.
  EXPECT_EQ(report.rfind("\nErro no OpenGL: " + kHeader + "\n Mensagem OpenGL: " + describe(GL_INVALID_ENUM), 0), 0u)
      << report;
  EXPECT_EQ(report.back(), '\n');
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GlErrorsTest, OtherModesDropTheErrorsSilently) {
  for (int mode : {2, 3, -1}) {
    raiseInvalidEnum();
    EXPECT_EQ(reportCaptured(kHeader, mode), "") << "mode " << mode;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "mode " << mode;
  }
}

TEST_F(GlErrorsTest, DescriptionAlreadyInTheHeaderIsNotReported) {
  raiseInvalidEnum();
  EXPECT_EQ(reportCaptured(kHeader + "(" + describe(GL_INVALID_ENUM) + ")", GL_REPORT_CONSOLE), "");
}

TEST_F(GlErrorsTest, LongHeadersStayBounded) {
  struct Case {
    size_t headerLength;
    bool reported;
  };
  const Case cases[] = {
      {511, true},   // below the limit: the description is appended, cut at the text's end
      {512, false},  // at the limit: nothing is appended, so nothing is reported
      {5000, false}, // far beyond the text: cut, never overrun
  };
  for (const Case& c : cases) {
    raiseInvalidEnum();
    const std::string header(c.headerLength, 'h');
    const std::string report = reportCaptured(header, GL_REPORT_CONSOLE);
    if (c.reported) {
      const std::string prefix = "\nErro no OpenGL: ";
      ASSERT_FALSE(report.empty()) << c.headerLength;
      EXPECT_LE(report.size(), prefix.size() + GL_REPORT_TEXT_SIZE - 1 + 1) << c.headerLength;
      EXPECT_EQ(report.substr(prefix.size(), c.headerLength), header);
      EXPECT_NE(report.find("\n Mensagem OpenGL: "), std::string::npos);
    } else {
      EXPECT_EQ(report, "") << c.headerLength;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
}

// Mode 1: the report on standard error, then the dialog until it is dismissed.
// `dismiss` is a shell command run beside the dialog.
void expectDialogDismissedBy(const std::string& dismiss) {
  std::string reason;
  ASSERT_NE(sharedXvfb(&reason), nullptr) << reason;
  ChildOptions helper;
  helper.argv = {"/bin/sh", "-c", dismiss};
  const pid_t pid = startChild(helper);
  ASSERT_GT(pid, 0);

  raiseInvalidEnum();
  alarm(120);  // a dialog nobody can dismiss ends the test program instead of hanging it
  const std::string report = reportCaptured(kHeader, GL_REPORT_DIALOG);
  alarm(0);
  EXPECT_EQ(report, "\nErro no OpenGL: " + kHeader + "\n Mensagem OpenGL: " + describe(GL_INVALID_ENUM) + "\n");
  // The call returned, so the dialog was dismissed. The helper may complain
  // that the window it typed into is gone, which is the point.
  int status = 0;
  EXPECT_TRUE(waitChild(pid, 30.0, &status)) << dismiss;
}

const char* kFindDialog = "w=$(xdotool search --sync --onlyvisible --name '^Erro no OpenGL$' | head -n 1) && ";

TEST_F(GlErrorsTest, DialogModeWaitsForAKey) {
  expectDialogDismissedBy(std::string(kFindDialog) + "xdotool key --window \"$w\" Return");
}

TEST_F(GlErrorsTest, DialogModeWaitsForAClickOnOk) {
  // The OK button sits centred on the dialog's bottom edge, 16 pixels above it, 28 high.
  expectDialogDismissedBy(std::string(kFindDialog) +
                          "eval \"$(xdotool getwindowgeometry --shell \"$w\")\" && "
                          "xdotool mousemove --window \"$w\" $((WIDTH / 2)) $((HEIGHT - 30)) click 1");
}

}  // namespace
