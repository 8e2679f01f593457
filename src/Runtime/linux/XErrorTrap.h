#pragma once

struct _XDisplay;

namespace talverin {

// Keeps Xlib from ending the process over the program's own X connections. Xlib's error
// handlers are process-wide and, by default, exit on an I/O error (the server went away) and
// on any protocol error. For an adopted connection an I/O error instead calls `onLost` and a
// protocol error is ignored; every other connection (the toolkit's) keeps the handlers that
// were installed before.
namespace XErrorTrap {

// Any thread. Makes Xlib safe for connections used on different threads (the key tap's, the
// toolkit's, the inserter's). Xlib's own lists of extension data are shared by every connection
// and are guarded only after this; the application should call it before any other Xlib call,
// and the backends call it again, which is harmless, before they open a connection.
void initThreads();
// Any thread, right after XOpenDisplay. `onLost` runs on the thread whose call broke.
void adopt(_XDisplay* display, void (*onLost)(void* context), void* context);
// Any thread, right after XCloseDisplay.
void release(_XDisplay* display);

} // namespace XErrorTrap

} // namespace talverin
