// The scene mirrors the world's hierarchy: one function per body, each inside
// its own push and pop, so the model-view matrix comes back as it was given.
#include "viewer/scene.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "viewer/frameLoop.h"
#include "viewer/glErrors.h"

namespace {

constexpr double kHoursPerDay = 24.0;
constexpr double kHoursPerYear = 24.0 * 365.0;

const GLfloat kSunEmission[] = {1.0f, 1.0f, 0.2f, 1.0f};
const GLfloat kRingEmission[] = {1.0f, 1.0f, 1.0f, 1.0f};
const GLfloat kWhite[] = {1.0f, 1.0f, 1.0f, 1.0f};
const GLfloat kNoEmission[] = {0.0f, 0.0f, 0.0f, 1.0f};

GLUquadric* sphereQuadric;
GLUquadric* diskQuadric;

double sunSpinAngle(double t) { return 7200.0 * t / kHoursPerYear; }
double yearAngle(double t) { return 360.0 * t / kHoursPerYear; }
double earthSpinAngle(double t) { return 360.0 * t / (kHoursPerDay * 1.0); }
double moonOrbitAngle(double t) { return 360.0 * t / (1.0 * kHoursPerDay); }
double moonSpinAngle(double t) { return 360.0 * t / (kHoursPerDay * 1.0); }

void rotateAboutY(double angle) { glRotated(angle, 0.0, 1.0, 0.0); }

}  // namespace

extern "C" void drawScene(void) {
  drawSun();
  drawEarthSystem();
  drawOrbitRing();
}

extern "C" void drawSun(void) {
  glPushMatrix();
  rotateAboutY(sunSpinAngle(simHours));
  glMaterialfv(GL_FRONT, GL_EMISSION, kSunEmission);
  drawSphere(SUN_RADIUS, &sunTexture);
  glMaterialfv(GL_FRONT, GL_EMISSION, kNoEmission);
  glPopMatrix();
}

extern "C" void drawEarthSystem(void) {
  glPushMatrix();
  glTranslated(EARTH_ORBIT_RADIUS, 0.0, 0.0);
  rotateAboutY(yearAngle(simHours));
  drawEarth();
  drawMoonSystem();
  glPopMatrix();
}

extern "C" void drawEarth(void) {
  glPushMatrix();
  rotateAboutY(earthSpinAngle(simHours));
  glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, kWhite);
  drawSphere(EARTH_RADIUS, &earthTexture);
  glMaterialfv(GL_FRONT, GL_EMISSION, kNoEmission);
  glPopMatrix();
}

extern "C" void drawMoonSystem(void) {
  glPushMatrix();
  rotateAboutY(moonOrbitAngle(simHours));
  glTranslated(MOON_DISTANCE, 0.0, 0.0);
  drawMoon();
  glPopMatrix();
}

extern "C" void drawMoon(void) {
  glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, kWhite);
  const double spin = moonSpinAngle(simHours);
  glPushMatrix();
  rotateAboutY(spin);
  drawSphere(MOON_RADIUS, &moonTexture);
  glPopMatrix();
  glMaterialfv(GL_FRONT, GL_EMISSION, kNoEmission);
}

extern "C" void drawOrbitRing(void) {
  glPushMatrix();
  glMaterialfv(GL_FRONT, GL_EMISSION, kRingEmission);
  drawDisk(EARTH_ORBIT_RADIUS - RING_HALF_WIDTH, EARTH_ORBIT_RADIUS + RING_HALF_WIDTH, nullptr);
  glMaterialfv(GL_FRONT, GL_EMISSION, kNoEmission);
  glPopMatrix();
}

extern "C" void drawSphere(double radius, TextureObject* texture) {
  if (sphereQuadric == nullptr) sphereQuadric = gluNewQuadric();
  // The quadric's polar axis (along which t runs) now points up: t = 0 at the bottom.
  glRotated(-90.0, 1.0, 0.0, 0.0);
  if (texture != nullptr) {
    glEnable(GL_TEXTURE_2D);
    applyTexture(texture);
    gluQuadricTexture(sphereQuadric, GL_TRUE);
    gluSphere(sphereQuadric, radius, SPHERE_SLICES, SPHERE_STACKS);
    glDisable(GL_TEXTURE_2D);
  } else {
    gluSphere(sphereQuadric, radius, SPHERE_SLICES, SPHERE_STACKS);
  }
}

extern "C" void drawDisk(double innerRadius, double outerRadius, TextureObject* texture) {
  if (diskQuadric == nullptr) diskQuadric = gluNewQuadric();
  // GLU builds the disk in the XY plane; the orbits lie in XZ.
  glRotated(90.0, 1.0, 0.0, 0.0);
  if (texture != nullptr) {
    glEnable(GL_TEXTURE_2D);
    applyTexture(texture);
    gluQuadricOrientation(diskQuadric, GLU_OUTSIDE);
    gluQuadricTexture(diskQuadric, GL_TRUE);
    gluDisk(diskQuadric, innerRadius, outerRadius, DISK_SLICES, DISK_LOOPS);
    glDisable(GL_TEXTURE_2D);
  } else {
    gluDisk(diskQuadric, innerRadius, outerRadius, DISK_SLICES, DISK_LOOPS);
  }
}

extern "C" void applyTexture(TextureObject* texture) {
  glBindTexture(GL_TEXTURE_2D, texture->textureId);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, texture->mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, static_cast<GLfloat>(texture->modulated ? GL_MODULATE : GL_REPLACE));
  char header[DIAGNOSTIC_HEADER_SIZE];
  FORMAT_DIAGNOSTIC_HEADER(header);
  reportGLErrors(header, GL_REPORT_CONSOLE);
}
