/* The viewer's spine: the simulated clock, the three texture records, the
 * handlers the windowing toolkit calls, and the steps of one frame. */
#ifndef VIEWER_FRAMELOOP_H
#define VIEWER_FRAMELOOP_H

#include "viewer/textureObject.h"

#ifdef __cplusplus
extern "C" {
#endif

#define WINDOW_WIDTH 500
#define WINDOW_HEIGHT 500
#define WINDOW_TITLE "SOLSYS-01"
#define CLOCK_STEP_HOURS 0.1
#define ESCAPE_KEY 27

extern double simHours; /* simulated clock in hours, +0.1 per drawn frame */
extern TextureObject sunTexture;
extern TextureObject moonTexture;
extern TextureObject earthTexture;

/* Loads "Sun.jpg", "Moon.jpg" and "Earth.jpg" from the working directory, in
 * that order. Needs a current OpenGL context. */
void loadSceneTextures(void);

/* Frame handler (display and idle): renderFrame, then the buffer swap. */
void drawFrame(void);
/* Reshape handler: setViewDefaults, then drawFrame; the size is ignored. */
void reshapeWindow(int width, int height);
/* Keyboard handler: Escape ends the process with status 0. */
void handleKey(unsigned char key, int x, int y);

/* The steps of a frame without the swap: clear, light, projection, camera,
 * scene, clock step. Also draws frames without a window. */
void renderFrame(void);
/* Clear colour black and depth testing on. */
void setViewDefaults(void);
void setLight(void);
void setProjection(void);
void setCamera(void);

#ifdef __cplusplus
}
#endif

#endif
