// Modal message dialog on plain Xlib. It opens its own connection to the
// display, so it works beside any other toolkit the caller uses, and blocks the
// calling thread in its own event loop until the user dismisses it.
#include "widgets/messageDialog.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kMargin = 16;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 28;
constexpr int kMinWidth = 240;
constexpr const char* kButtonLabel = "OK";

struct Geometry {
  int width;
  int height;
  int lineHeight;
  int ascent;
  int buttonX;
  int buttonY;
};

std::vector<std::string> splitLines(const char* text) {
  std::vector<std::string> lines;
  std::string line;
  for (const char* c = text; *c; ++c) {
    if (*c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (*c != '\r') {
      line += *c == '\t' ? ' ' : *c;
    }
  }
  lines.push_back(line);
  return lines;
}

int textWidth(XFontStruct* font, const std::string& text) {
  if (font == nullptr) return static_cast<int>(text.size()) * 6;
  return XTextWidth(font, text.c_str(), static_cast<int>(text.size()));
}

Geometry layout(Display* display, XFontStruct* font, const std::vector<std::string>& lines) {
  Geometry g{};
  g.ascent = font ? font->ascent : 11;
  g.lineHeight = font ? font->ascent + font->descent + 2 : 15;
  int widest = 0;
  for (const std::string& line : lines) widest = std::max(widest, textWidth(font, line));
  const int screen = DefaultScreen(display);
  const int maxWidth = std::max(kMinWidth, DisplayWidth(display, screen) - 40);
  const int maxHeight = std::max(120, DisplayHeight(display, screen) - 40);
  g.width = std::clamp(widest + 2 * kMargin, kMinWidth, maxWidth);
  const int textHeight = static_cast<int>(lines.size()) * g.lineHeight;
  g.height = std::min(textHeight + 3 * kMargin + kButtonHeight, maxHeight);
  g.buttonX = (g.width - kButtonWidth) / 2;
  g.buttonY = g.height - kMargin - kButtonHeight;
  return g;
}

void setTitle(Display* display, Window window, const char* title) {
  XStoreName(display, window, title);
  const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XChangeProperty(display, window, netName, utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title), static_cast<int>(std::strlen(title)));
}

void markAsDialog(Display* display, Window window) {
  const Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  const Atom dialog = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  XChangeProperty(display, window, type, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&dialog), 1);
  const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
  const Atom modal = XInternAtom(display, "_NET_WM_STATE_MODAL", False);
  XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&modal), 1);

  XClassHint classHint;
  char name[] = "messageDialog";
  char className[] = "SolsysWidgets";
  classHint.res_name = name;
  classHint.res_class = className;
  XSetClassHint(display, window, &classHint);

  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = True;
  XSetWMHints(display, window, &hints);
}

void fixSize(Display* display, Window window, const Geometry& g) {
  XSizeHints* size = XAllocSizeHints();
  if (size == nullptr) return;
  size->flags = PMinSize | PMaxSize;
  size->min_width = size->max_width = g.width;
  size->min_height = size->max_height = g.height;
  XSetWMNormalHints(display, window, size);
  XFree(size);
}

void paint(Display* display, Window window, GC gc, XFontStruct* font, const Geometry& g,
           const std::vector<std::string>& lines, bool pressed) {
  const int screen = DefaultScreen(display);
  const unsigned long black = BlackPixel(display, screen);
  const unsigned long white = WhitePixel(display, screen);
  XClearWindow(display, window);
  XSetForeground(display, gc, black);
  int y = kMargin + g.ascent;
  for (const std::string& line : lines) {
    if (y > g.buttonY - kMargin / 2) break;  // the text area ends above the button
    XDrawString(display, window, gc, kMargin, y, line.c_str(), static_cast<int>(line.size()));
    y += g.lineHeight;
  }
  XSetForeground(display, gc, pressed ? black : white);
  XFillRectangle(display, window, gc, g.buttonX, g.buttonY, kButtonWidth, kButtonHeight);
  XSetForeground(display, gc, black);
  XDrawRectangle(display, window, gc, g.buttonX, g.buttonY, kButtonWidth - 1, kButtonHeight - 1);
  XSetForeground(display, gc, pressed ? white : black);
  const int labelX = g.buttonX + (kButtonWidth - textWidth(font, kButtonLabel)) / 2;
  const int labelY = g.buttonY + (kButtonHeight + g.ascent) / 2 - 1;
  XDrawString(display, window, gc, labelX, labelY, kButtonLabel, static_cast<int>(std::strlen(kButtonLabel)));
  XFlush(display);
}

bool insideButton(const Geometry& g, int x, int y) {
  return x >= g.buttonX && x < g.buttonX + kButtonWidth && y >= g.buttonY && y < g.buttonY + kButtonHeight;
}

bool isDismissKey(XKeyEvent* event) {
  const KeySym key = XLookupKeysym(event, 0);
  return key == XK_Return || key == XK_KP_Enter || key == XK_Escape || key == XK_space;
}

// Runs the dialog's event loop until it is dismissed.
void runDialog(Display* display, Window window, GC gc, XFontStruct* font, const Geometry& g,
               const std::vector<std::string>& lines, Atom deleteWindow) {
  bool pressed = false;
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    switch (event.type) {
      case Expose:
        if (event.xexpose.count == 0) paint(display, window, gc, font, g, lines, pressed);
        break;
      case MapNotify:
        // Without a window manager nobody gives the dialog the focus.
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
        break;
      case KeyPress:
        if (isDismissKey(&event.xkey)) return;
        break;
      case ButtonPress:
        if (event.xbutton.button == Button1 && insideButton(g, event.xbutton.x, event.xbutton.y)) {
          pressed = true;
          paint(display, window, gc, font, g, lines, pressed);
        }
        break;
      case ButtonRelease:
        if (event.xbutton.button == Button1 && pressed) {
          if (insideButton(g, event.xbutton.x, event.xbutton.y)) return;
          pressed = false;
          paint(display, window, gc, font, g, lines, pressed);
        }
        break;
      case ClientMessage:
        if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) return;
        break;
      default:
        break;
    }
  }
}

}  // namespace

extern "C" int wdgMessageDialog(const char* title, const char* message) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return WDG_ERR_DISPLAY;

  const std::vector<std::string> lines = splitLines(message ? message : "");
  XFontStruct* font = XLoadQueryFont(display, "fixed");
  const Geometry g = layout(display, font, lines);
  const int screen = DefaultScreen(display);
  const int x = std::max(0, (DisplayWidth(display, screen) - g.width) / 2);
  const int y = std::max(0, (DisplayHeight(display, screen) - g.height) / 2);
  const Window window =
      XCreateSimpleWindow(display, RootWindow(display, screen), x, y, static_cast<unsigned>(g.width),
                          static_cast<unsigned>(g.height), 1, BlackPixel(display, screen),
                          WhitePixel(display, screen));
  if (window == None) {
    if (font) XFreeFont(display, font);
    XCloseDisplay(display);
    return WDG_ERR_WINDOW;
  }

  setTitle(display, window, title ? title : "");
  markAsDialog(display, window);
  fixSize(display, window, g);
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &deleteWindow, 1);
  XSelectInput(display, window,
               ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);

  GC gc = XCreateGC(display, window, 0, nullptr);
  if (font) XSetFont(display, gc, font->fid);
  XMapRaised(display, window);

  runDialog(display, window, gc, font, g, lines, deleteWindow);

  XFreeGC(display, gc);
  XDestroyWindow(display, window);
  if (font) XFreeFont(display, font);
  XCloseDisplay(display);
  return WDG_OK;
}
