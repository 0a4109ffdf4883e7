#pragma once

#include "mix.h"

#include <string>

namespace Synth {

// Writes the bus as a 16-bit stereo PCM WAV file at the track's sample rate, with
// triangular dither from a fixed seed so the file is the same on every render.
// Returns false when the file cannot be written.
bool writeWav(const std::string& path, const Bus& bus);

} // namespace Synth
