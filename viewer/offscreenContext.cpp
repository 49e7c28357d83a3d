// Surfaceless EGL needs no X server; GLVND routes the viewer's plain OpenGL
// calls to whichever context is current, so the scene code is unchanged.
#include "viewer/offscreenContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "offscreen OpenGL: %s (EGL error 0x%04X)\n", what, static_cast<unsigned>(eglGetError()));
  std::fflush(stderr);
  return 1;
}

}  // namespace

extern "C" int openOffscreenContext(int width, int height) {
  auto getPlatformDisplay =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay == nullptr) return fail("no eglGetPlatformDisplayEXT");
  EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (display == EGL_NO_DISPLAY) return fail("no surfaceless display");
  EGLint major = 0;
  EGLint minor = 0;
  if (!eglInitialize(display, &major, &minor)) return fail("cannot initialise EGL");

  const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8,
                                     EGL_BLUE_SIZE, 8, EGL_DEPTH_SIZE, 24, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                     EGL_NONE};
  EGLConfig config;
  EGLint configs = 0;
  if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1) {
    return fail("no RGB configuration with a depth buffer");
  }
  const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
  EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
  if (surface == EGL_NO_SURFACE) return fail("cannot make the pbuffer");
  if (!eglBindAPI(EGL_OPENGL_API)) return fail("no desktop OpenGL");
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
  if (context == EGL_NO_CONTEXT) return fail("cannot make the context");
  if (!eglMakeCurrent(display, surface, surface, context)) return fail("cannot make the context current");
  return 0;
}
