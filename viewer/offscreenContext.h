/* An OpenGL context without a window or a display (Mesa's surfaceless EGL
 * platform with a pbuffer), for drawing frames of the viewer where no screen is:
 * snapshots and tests. */
#ifndef VIEWER_OFFSCREENCONTEXT_H
#define VIEWER_OFFSCREENCONTEXT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Makes a compatibility-profile context with an RGB colour buffer and a depth
 * buffer of width x height current on the calling thread. Returns 0 on success,
 * or non-zero after a message on standard error. Once per process. */
int openOffscreenContext(int width, int height);

#ifdef __cplusplus
}
#endif

#endif
