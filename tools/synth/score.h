#pragma once

// The arrangement: 100 beats per minute in 4/4, so one bar lasts 2.4 s and the 36 bars
// cover the show's 86.4 s, one bar per segment of the picture.

#include "mix.h"

namespace Synth {

constexpr double barSeconds = 2.4;
constexpr int barCount = 36;
constexpr double trackSeconds = barSeconds * barCount;

// Plays every note of the track into the mix and records the kicks that pump it.
void writeScore(Mix& mix);

} // namespace Synth
