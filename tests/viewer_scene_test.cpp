// The scene and the frame steps, drawn in this process without a window: the
// clock, the matrices and materials the scene leaves behind, and where the
// bodies land for known clock values.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/viewer_harness.h"
#include "viewer/frameLoop.h"
#include "viewer/scene.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

class SceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(viewerOffscreenContext()) << "no offscreen OpenGL context";
    setViewDefaults();
  }
};

std::vector<GLdouble> modelView() {
  std::vector<GLdouble> m(16);
  glGetDoublev(GL_MODELVIEW_MATRIX, m.data());
  return m;
}

GLint modelViewDepth() {
  GLint depth = 0;
  glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
  return depth;
}

Picture readFrame() {
  Picture picture;
  picture.width = WINDOW_WIDTH;
  picture.height = WINDOW_HEIGHT;
  picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, picture.width, picture.height, GL_RGB, GL_UNSIGNED_BYTE, picture.rgb.data());
  return picture;
}

int brightness(const Rgb& c) { return c.r + c.g + c.b; }

Rgb pixelAt(const Picture& picture, double x, double y, double z) {
  const WindowPoint p = projectToWindow(x, y, z);
  return picture.at(static_cast<int>(p.x), static_cast<int>(p.y));
}

TEST_F(SceneTest, TenFramesMakeOneHour) {
  simHours = 0.0;
  for (int frame = 0; frame < 10; ++frame) renderFrame();
  EXPECT_NEAR(simHours, 1.0, 1e-12);
}

TEST_F(SceneTest, SceneLeavesTheModelViewMatrixAsItFoundIt) {
  for (double t : {0.0, 6.0, 2190.0, 1234.56, 87654.3}) {
    simHours = t;
    setCamera();
    const std::vector<GLdouble> before = modelView();
    const GLint depth = modelViewDepth();
    drawScene();
    EXPECT_EQ(modelView(), before) << "t = " << t;
    EXPECT_EQ(modelViewDepth(), depth) << "t = " << t;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "t = " << t;
  }
}

TEST_F(SceneTest, MaterialsAfterAFrame) {
  simHours = 0.0;
  renderFrame();
  GLfloat ambient[4], diffuse[4], emission[4];
  glGetMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
  glGetMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
  glGetMaterialfv(GL_FRONT, GL_EMISSION, emission);
  for (int i = 0; i < 4; ++i) {
    EXPECT_FLOAT_EQ(ambient[i], 1.0f);
    EXPECT_FLOAT_EQ(diffuse[i], 1.0f);
    EXPECT_FLOAT_EQ(emission[i], i == 3 ? 1.0f : 0.0f);
  }
  GLint matrixMode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
  EXPECT_EQ(matrixMode, GL_MODELVIEW);
}

// Where the Moon's centre is at clock t: at the year angle plus the Moon's
// orbit angle about the Earth's centre (40, 0, 0).
void moonCentre(double t, double* x, double* z) {
  const double b = (360.0 * t / (24.0 * 365.0) + 360.0 * t / 24.0) * kPi / 180.0;
  *x = 40.0 + 10.0 * std::cos(b);
  *z = -10.0 * std::sin(b);
}

TEST_F(SceneTest, BodiesStandWhereTheClockPutsThem) {
  struct Case {
    double t;
    double emptyX;  // a place on the orbit plane the Moon has left
    double emptyZ;
  };
  const Case cases[] = {
      {0.0, 30.0, 0.0},     // Moon at (50, 0, 0)
      {2190.0, 50.0, 0.0},  // a quarter year: orbit 90 plus year 90 degrees put the Moon at (30, 0, 0)
      {12.0, 50.0, 0.0},    // half a day: the Moon's orbit angle is 180 degrees, near (30, 0, 0)
  };
  for (const Case& c : cases) {
    simHours = c.t;
    renderFrame();
    const Picture frame = readFrame();
    double x = 0.0, z = 0.0;
    moonCentre(c.t, &x, &z);
    EXPECT_GT(brightness(pixelAt(frame, 0.0, 0.0, 0.0)), 300) << "Sun, t = " << c.t;
    EXPECT_GT(brightness(pixelAt(frame, 40.0, 0.0, 0.0)), 30) << "Earth, t = " << c.t;
    EXPECT_GT(brightness(pixelAt(frame, x, 0.0, z)), 30) << "Moon, t = " << c.t;
    EXPECT_EQ(brightness(pixelAt(frame, c.emptyX, 0.0, c.emptyZ)), 0) << "empty place, t = " << c.t;
    EXPECT_EQ(brightness(frame.at(5, 5)), 0) << "corner, t = " << c.t;
  }
}

TEST_F(SceneTest, ViewportKeepsTheWindowSize) {
  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], WINDOW_WIDTH);
  EXPECT_EQ(viewport[3], WINDOW_HEIGHT);
  GLboolean depthTest = GL_FALSE;
  glGetBooleanv(GL_DEPTH_TEST, &depthTest);
  EXPECT_EQ(depthTest, GL_TRUE);
}

}  // namespace
