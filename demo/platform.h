#pragma once

// Checks the windowing library cannot make for itself without aborting the process.
namespace Platform {

// True when a window can be opened at all (on X11: the display named by DISPLAY answers).
bool displayAvailable();

} // namespace Platform
