// Sanitized builds only. The OpenGL driver that the GLX library loads is
// unloaded again while the process exits, before the leak check runs, so the
// driver's own leaks would show as "<unknown module>" and could only be
// silenced wholesale. Ignoring dlclose keeps every library mapped, so the
// leak suppressions can name the system libraries precisely.
extern "C" int dlclose(void*) { return 0; }
