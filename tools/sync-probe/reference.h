#pragma once

// The calibration reference: the screen and the sink change at one instant, so that a recording
// of both shows its own offset between the two.
namespace SyncReference {

// Flips the screen's rectangle (x, y, width, height) from black to white and back `count`
// times, a second apart, each at the instant PulseAudio says a burst of noise written to the
// default sink is played there. A silent stream keeps the sink running in between. False, after
// a line saying why, when the display or the sound server cannot be reached.
bool run(int count, int x, int y, int width, int height);

} // namespace SyncReference
