/* Modal message dialog: a window with a title, a text of one or more lines and a
 * single OK button. The call returns only when the user has dismissed it (OK,
 * Return, Enter, Escape, space, or the window manager's close). Usable from C. */
#ifndef WIDGETS_MESSAGEDIALOG_H
#define WIDGETS_MESSAGEDIALOG_H

#ifdef __cplusplus
extern "C" {
#endif

enum {
  WDG_OK = 0,           /* shown and dismissed */
  WDG_ERR_DISPLAY = 1,  /* no X display could be opened */
  WDG_ERR_WINDOW = 2    /* the window could not be made */
};

/* Shows `message` ('\n' separates lines) under `title`. The toolkit has no main
 * window, so the dialog has no owner. Returns a WDG_ status. */
int wdgMessageDialog(const char* title, const char* message);

#ifdef __cplusplus
}
#endif

#endif
