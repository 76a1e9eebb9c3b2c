// close_window PID SECONDS: waits (at most SECONDS) for a mapped top-level X
// window of process PID and asks it to close, as a window manager's close
// button does (WM_DELETE_WINDOW). Exit status 0 when a close was sent, 1 when
// no such window appeared in time, 2 without an X display or on bad arguments.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

long WindowPid(Display* display, Window window, Atom pidAtom)
{
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  long pid = -1;
  if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                         &after, &data) == Success &&
      data) {
    if (type == XA_CARDINAL && format == 32 && count == 1) pid = *reinterpret_cast<long*>(data);
    XFree(data);
  }
  return pid;
}

int CloseWindowsOf(Display* display, long pid)
{
  const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  int sent = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return 0;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable)
      continue;
    if (WindowPid(display, children[i], pidAtom) != pid) continue;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = children[i];
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, children[i], False, NoEventMask, &event);
    ++sent;
  }
  if (children) XFree(children);
  XFlush(display);
  return sent;
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc != 3) {
    std::fprintf(stderr, "usage: close_window PID SECONDS\n");
    return 2;
  }
  const long pid = std::strtol(argv[1], nullptr, 10);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[2]));
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "close_window: cannot open the X display\n");
    return 2;
  }
  int status = 1;
  while (std::chrono::steady_clock::now() < deadline) {
    if (CloseWindowsOf(display, pid) > 0) {
      status = 0;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  XCloseDisplay(display);
  if (status != 0) std::fprintf(stderr, "close_window: no window of process %ld appeared\n", pid);
  return status;
}
