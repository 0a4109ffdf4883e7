#pragma once

// Loudness metering after ITU-R BS.1770 (K-weighting, 400 ms blocks, absolute and
// relative gates), true-peak estimation by 4x oversampling, and the mastering chain that
// brings the mix to a target loudness under a true-peak ceiling.

#include "mix.h"

namespace Synth {

// Integrated loudness in LUFS; -70 or lower for silence.
double integratedLoudness(const Bus& bus);

// Highest absolute sample value of the bus oversampled 4x, over both channels (linear).
double truePeak(const Bus& bus);

struct MasterSettings {
    double targetLufs = -14.0;
    double ceilingDb = -2.4;     // true peak; leaves room for the MP3 encoder's overshoot
    // The last shot fades its exposure as exp(-1.6 (t - 76.8)); after the picture's 2.2
    // gamma the screen dims as exp(-1.6 / 2.2 (t - 76.8)), and so does the sound.
    double fadeStart = 76.8;     // seconds
    double fadeRate = 1.6 / 2.2; // per second
    double endTaper = 0.3;       // seconds of raised-cosine fade to exact zero at the end
};

struct MasterReport {
    double loudnessLufs;
    double truePeakDb;
    double makeUpGainDb;
    double deepestLimitingDb;
};

// Turns the summed mix into the final signal, in place: a DC and rumble high-pass, a
// make-up gain found by iteration, a look-ahead peak limiter, then the fade-out.
MasterReport master(Bus& bus, const MasterSettings& settings);

} // namespace Synth
