// Frame loop and handlers. The light is placed before the matrices are
// reloaded, so from the second frame on it sits at the Sun's centre.
#include "viewer/frameLoop.h"

#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdlib>

#include "viewer/scene.h"
#include "viewer/textureLoader.h"

double simHours;
TextureObject sunTexture;
TextureObject moonTexture;
TextureObject earthTexture;

extern "C" void loadSceneTextures(void) {
  loadTexture("Sun.jpg", &sunTexture, 1, 0);
  loadTexture("Moon.jpg", &moonTexture, 1, 1);
  loadTexture("Earth.jpg", &earthTexture, 1, 1);
}

extern "C" void setLight(void) {
  static const GLfloat position[] = {0.0f, 0.0f, 0.0f, 1.0f};
  glLightfv(GL_LIGHT0, GL_POSITION, position);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
}

extern "C" void setProjection(void) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(45.0, 1.0, 0.1, 100.0 * EARTH_ORBIT_RADIUS);
}

extern "C" void setCamera(void) {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(0.0, 1.5 * EARTH_ORBIT_RADIUS, 3.0 * EARTH_ORBIT_RADIUS, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
}

extern "C" void renderFrame(void) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  setLight();
  setProjection();
  setCamera();
  drawScene();
  simHours += CLOCK_STEP_HOURS;
}

extern "C" void drawFrame(void) {
  renderFrame();
  glutSwapBuffers();
}

extern "C" void setViewDefaults(void) {
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glEnable(GL_DEPTH_TEST);
}

extern "C" void reshapeWindow(int, int) {
  setViewDefaults();
  drawFrame();
}

extern "C" void handleKey(unsigned char key, int, int) {
  if (key == ESCAPE_KEY) std::exit(0);
}
