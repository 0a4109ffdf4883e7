#pragma once

// What frame-bench needs from the display the demo runs on (X11 only; elsewhere both fail).
namespace ScreenProbe {

// Sends the window manager's close request (WM_DELETE_WINDOW) to every top-level window named
// `title` on the default display. False when there is none.
bool requestClose(const char* title);

// Watches the whole screen of the default display until some pixel is not black, grabbing it
// only when the server reports a change (the DAMAGE extension). Returns the wall-clock time
// (seconds since the Unix epoch) of the first grab that showed one, or a negative value after
// `timeoutSeconds` or without the extension.
double waitForPicture(double timeoutSeconds);

} // namespace ScreenProbe
