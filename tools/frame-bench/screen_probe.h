#pragma once

// What frame-bench needs from the display the demo runs on (X11 only; elsewhere both fail).
namespace ScreenProbe {

// Sends the window manager's close request (WM_DELETE_WINDOW) to every top-level window named
// `title` on the default display. False when there is none.
bool requestClose(const char* title);

// Polls the whole screen of the default display until some pixel is not black. Returns the
// wall-clock time (seconds since the Unix epoch) of the first grab that showed one, or a
// negative value after `timeoutSeconds`.
double waitForPicture(double timeoutSeconds);

} // namespace ScreenProbe
