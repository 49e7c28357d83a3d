/* The scene: the Sun, the Earth system (the Earth and the Moon system) and the
 * Earth's orbit ring, animated by the simulated clock. */
#ifndef VIEWER_SCENE_H
#define VIEWER_SCENE_H

#include "viewer/textureObject.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Scene units. */
#define SUN_RADIUS 10.0
#define EARTH_ORBIT_RADIUS 40.0 /* R: also places the camera and the far plane */
#define EARTH_RADIUS 6.0
#define MOON_DISTANCE 10.0
#define MOON_RADIUS 2.0
#define RING_HALF_WIDTH 0.1
#define SPHERE_SLICES 64
#define SPHERE_STACKS 64
#define DISK_SLICES 64
#define DISK_LOOPS 64

/* Draws the bodies under the current (camera) model-view matrix and leaves it
 * unchanged. */
void drawScene(void);

void drawSun(void);
void drawEarthSystem(void);
void drawEarth(void);
void drawMoonSystem(void);
void drawMoon(void);
void drawOrbitRing(void);

/* Primitives: they tilt the current matrix without saving it; `texture` may be
 * null. */
void drawSphere(double radius, TextureObject* texture);
void drawDisk(double innerRadius, double outerRadius, TextureObject* texture);

/* Binds the texture, sets its sampling state and environment, and collects
 * pending OpenGL errors. */
void applyTexture(TextureObject* texture);

#ifdef __cplusplus
}
#endif

#endif
