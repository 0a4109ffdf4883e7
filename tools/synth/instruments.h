#pragma once

// The voices of the track. Each function renders one note or hit into an Output; times
// are in seconds on the track's timeline, notes are MIDI numbers, gains are linear.
// Every voice has an envelope that starts and ends at zero.

#include "mix.h"

namespace Synth {

struct PadTone {
    double cutoffStart = 900.0;  // Hz at note-on
    double cutoffEnd = 900.0;    // Hz at the end of the gate, swept exponentially
    double resonance = 0.8;
    double attack = 1.0;
    double release = 1.5;
    double width = 0.8;          // stereo spread of the detuned voices, 0 .. 1
    double detuneCents = 14.0;   // spread of the outermost voices
};

// Five detuned band-limited saws through a low-pass, spread across the stereo field.
void pad(const Output& out, double start, double length, int note, double gain, const PadTone& tone);

// Saw and sine sub through a low-pass whose cutoff jumps up by envelopeHz at each note.
void bass(const Output& out, double start, double length, int note, double gain, double cutoffHz,
          double envelopeHz);

// Short two-operator FM pluck: the glittering arpeggio. brightness 0 .. 1.
void pluck(const Output& out, double start, int note, double gain, double pan, double brightness);

// Inharmonic FM bell with a long ring; left and right slightly detuned for shimmer.
void bell(const Output& out, double start, int note, double gain, double pan, double decaySeconds);

// Two detuned saws with delayed vibrato: the melody at the peak.
void lead(const Output& out, double start, double length, int note, double gain);

// Slow sine drone with faint upper partials, left and right a little apart.
void drone(const Output& out, double start, double length, int note, double gain);

// Band-passed noise whose centre wanders slowly: the space wind of the intro.
void wind(const Output& out, double start, double length, double gain);

void kick(const Output& out, double start, double gain);
void snare(const Output& out, double start, double gain);
void clap(const Output& out, double start, double gain);
void hat(const Output& out, double start, double gain, double decaySeconds, double pan);
void crash(const Output& out, double start, double gain, double decaySeconds);
void tom(const Output& out, double start, int note, double gain);

// Deep falling sine: the weight of something landing.
void boom(const Output& out, double start, double gain);

// Noise rising in pitch and level, ending exactly at `end`: the approach of a landing.
void swell(const Output& out, double end, double length, double gain);

// Noise and a saw climbing two octaves over `length`: the build before a drop.
void riser(const Output& out, double start, double length, double gain);

} // namespace Synth
