#pragma once

// Whole-bus effects, applied once the score has been played into the mix.

#include "mix.h"

#include <vector>

namespace Synth {

// Replaces the bus with its reverberation: eight delay lines fed back through a Hadamard
// matrix, damped above dampingHz, decaying by 60 dB in decaySeconds.
void applyReverb(Bus& bus, double decaySeconds, double dampingHz, double preDelaySeconds);

// Replaces the bus with a ping-pong echo of its mono sum: left first, then right.
void applyEcho(Bus& bus, double delaySeconds, double feedback, double dampingHz);

// Ducks the bus after every onset in `times` (sorted): a dip of `depth` that recovers
// with the given time constant. This is what makes the pads breathe with the kick.
void applyPump(Bus& bus, const std::vector<double>& times, double depth, double recoverySeconds);

} // namespace Synth
