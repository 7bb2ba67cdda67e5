#include "x11probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#ifdef LM_HAVE_XTEST
#include <X11/extensions/XTest.h>
#endif

#include <unistd.h>

#include <cstdlib>

namespace x11probe {

namespace {
Display* dpy(void* d) { return static_cast<Display*>(d); }
int ignoreErrors(Display*, XErrorEvent*) { return 0; }
}  // namespace

Connection::Connection() {
  display_ = XOpenDisplay(nullptr);
  // Windows of the program under test may go away while we look at them.
  if (display_) XSetErrorHandler(ignoreErrors);
}

Connection::~Connection() {
  if (display_) XCloseDisplay(dpy(display_));
}

int Connection::screenWidth() const { return DisplayWidth(dpy(display_), DefaultScreen(dpy(display_))); }
int Connection::screenHeight() const { return DisplayHeight(dpy(display_), DefaultScreen(dpy(display_))); }
unsigned long Connection::root() const { return DefaultRootWindow(dpy(display_)); }

std::vector<WindowInfo> Connection::children(unsigned long window) {
  std::vector<WindowInfo> out;
  Display* d = dpy(display_);
  Window rootReturn = 0, parentReturn = 0;
  Window* kids = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(d, window, &rootReturn, &parentReturn, &kids, &count)) return out;
  const Atom state = XInternAtom(d, "_NET_WM_STATE", False);
  const Atom above = XInternAtom(d, "_NET_WM_STATE_ABOVE", False);
  for (unsigned int i = 0; i < count; ++i) {
    WindowInfo info;
    info.id = kids[i];
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(d, kids[i], &attributes)) continue;
    info.x = attributes.x;
    info.y = attributes.y;
    info.width = attributes.width;
    info.height = attributes.height;
    info.mapped = attributes.map_state == IsViewable;
    char* name = nullptr;
    if (XFetchName(d, kids[i], &name) && name) {
      info.name = name;
      XFree(name);
    }
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, kids[i], state, 0, 64, False, XA_ATOM, &type, &format, &items, &after, &data) ==
            Success &&
        data) {
      const Atom* atoms = reinterpret_cast<const Atom*>(data);
      for (unsigned long j = 0; j < items; ++j)
        if (atoms[j] == above) info.above = true;
      XFree(data);
    }
    const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    data = nullptr;
    if (XGetWindowProperty(d, kids[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after, &data) ==
            Success &&
        data) {
      if (items == 1) info.pid = static_cast<long>(*reinterpret_cast<const unsigned long*>(data));
      XFree(data);
    }
    out.push_back(info);
  }
  if (kids) XFree(kids);
  return out;
}

unsigned long Connection::createWindow(int width, int height) {
  Display* d = dpy(display_);
  const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, static_cast<unsigned>(width),
                                       static_cast<unsigned>(height), 0, 0, 0x336699);
  XMapWindow(d, w);
  XSync(d, False);
  return w;
}

void Connection::destroyWindow(unsigned long window) {
  XDestroyWindow(dpy(display_), window);
  XSync(dpy(display_), False);
}

void Connection::typeKey(unsigned long window, const char* keysymName) {
  Display* d = dpy(display_);
  const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(keysymName));
  XSetInputFocus(d, window, RevertToParent, CurrentTime);
  XSync(d, False);
  usleep(100000);
#ifdef LM_HAVE_XTEST
  XTestFakeKeyEvent(d, code, True, CurrentTime);
  XTestFakeKeyEvent(d, code, False, CurrentTime);
#else
  for (int type : {KeyPress, KeyRelease}) {
    XKeyEvent e{};
    e.type = type;
    e.display = d;
    e.window = window;
    e.root = DefaultRootWindow(d);
    e.subwindow = 0;
    e.time = CurrentTime;
    e.same_screen = True;
    e.keycode = code;
    XSendEvent(d, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, reinterpret_cast<XEvent*>(&e));
  }
#endif
  XSync(d, False);
}

void Connection::sync() { XSync(dpy(display_), False); }

namespace {

int shiftOf(unsigned long mask) {
  int shift = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

}  // namespace

unsigned long Connection::showPicture(int width, int height, const std::vector<uint32_t>& pixels) {
  Display* d = dpy(display_);
  const int screen = DefaultScreen(d);
  Visual* visual = DefaultVisual(d, screen);
  const unsigned depth = static_cast<unsigned>(DefaultDepth(d, screen));
  const Pixmap pixmap =
      XCreatePixmap(d, DefaultRootWindow(d), static_cast<unsigned>(width), static_cast<unsigned>(height), depth);
  XImage* image = XCreateImage(d, visual, depth, ZPixmap, 0, nullptr, static_cast<unsigned>(width),
                               static_cast<unsigned>(height), 32, 0);
  image->data = static_cast<char*>(malloc(static_cast<size_t>(image->bytes_per_line) * height));
  const int rs = shiftOf(visual->red_mask), gs = shiftOf(visual->green_mask), bs = shiftOf(visual->blue_mask);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
      XPutPixel(image, x, y,
                (static_cast<unsigned long>((p >> 16) & 0xFF) << rs) |
                    (static_cast<unsigned long>((p >> 8) & 0xFF) << gs) | (static_cast<unsigned long>(p & 0xFF) << bs));
    }
  const GC gc = XCreateGC(d, pixmap, 0, nullptr);
  XPutImage(d, pixmap, gc, image, 0, 0, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XFreeGC(d, gc);
  XDestroyImage(image);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixmap = pixmap;
  const Window w =
      XCreateWindow(d, DefaultRootWindow(d), 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                    CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixmap, &attributes);
  XFreePixmap(d, pixmap);
  XMapRaised(d, w);
  XSync(d, False);
  return w;
}

std::vector<uint32_t> Connection::screenshot(int x, int y, int width, int height) {
  Display* d = dpy(display_);
  std::vector<uint32_t> out;
  XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                            AllPlanes, ZPixmap);
  if (!image) return out;
  const int rs = shiftOf(image->red_mask), gs = shiftOf(image->green_mask), bs = shiftOf(image->blue_mask);
  out.resize(static_cast<size_t>(width) * height);
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) {
      const unsigned long p = XGetPixel(image, i, j);
      out[static_cast<size_t>(j) * width + i] =
          static_cast<uint32_t>((((p & image->red_mask) >> rs) << 16) | (((p & image->green_mask) >> gs) << 8) |
                                ((p & image->blue_mask) >> bs));
    }
  XDestroyImage(image);
  return out;
}

bool Connection::click(int x, int y) {
#ifdef LM_HAVE_XTEST
  Display* d = dpy(display_);
  XTestFakeMotionEvent(d, DefaultScreen(d), x, y, CurrentTime);
  XSync(d, False);
  usleep(50000);
  XTestFakeButtonEvent(d, 1, True, CurrentTime);
  XTestFakeButtonEvent(d, 1, False, CurrentTime);
  XSync(d, False);
  return true;
#else
  (void)x;
  (void)y;
  return false;
#endif
}

}  // namespace x11probe
