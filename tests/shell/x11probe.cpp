#include "x11probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#ifdef LM_HAVE_XTEST
#include <X11/extensions/XTest.h>
#endif

#include <unistd.h>

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

}  // namespace x11probe
