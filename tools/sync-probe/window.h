#pragma once

// The show's window: placed where the recording looks, and keys typed into it as a user would,
// through the XTEST extension.
namespace SyncWindow {

// Moves the top-level window whose name starts with `titlePrefix` so that its middle is the
// screen's. False, after a line saying why, when there is no such window.
bool centre(const char* titlePrefix);

// Gives the keyboard focus to the top-level window whose name starts with `titlePrefix`, then
// presses and releases each key (an X keysym name such as "Left" or "space"), `gapSeconds`
// apart. False, after a line saying why, when there is no such window or no XTEST.
bool type(const char* titlePrefix, const char* const* keys, int count, double gapSeconds);

} // namespace SyncWindow
