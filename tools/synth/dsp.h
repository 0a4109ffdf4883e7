#pragma once

// Small signal-processing building blocks shared by the instruments, the effects and
// the mastering stage. Everything is plain double arithmetic so a render is the same
// bytes every time on the same toolchain.

#include <cmath>
#include <cstdint>

namespace Synth {

constexpr double sampleRate = 44100.0;
constexpr double pi = 3.14159265358979323846;
constexpr double twoPi = 2.0 * pi;

inline double midiToHz(double note)
{
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

inline double dbToGain(double db)
{
    return std::pow(10.0, db / 20.0);
}

inline double gainToDb(double gain)
{
    return 20.0 * std::log10(gain);
}

// sin(2 pi x) for a phase x in turns: range reduction and a Taylor polynomial good to
// about 6e-8. The library sine would otherwise be the largest cost of a render.
inline double sineOfTurns(double x)
{
    x -= std::floor(x + 0.5);  // [-0.5, 0.5)
    if (x > 0.25)
        x = 0.5 - x;           // sin(pi - a) = sin(a)
    else if (x < -0.25)
        x = -0.5 - x;
    double a = twoPi * x;      // [-pi/2, pi/2]
    double a2 = a * a;
    return a * (1.0 + a2 * (-1.0 / 6.0 + a2 * (1.0 / 120.0 + a2 * (-1.0 / 5040.0 +
                a2 * (1.0 / 362880.0 + a2 * (-1.0 / 39916800.0))))));
}

// SplitMix64: a tiny, fully specified generator, so the noise does not depend on the
// standard library's distributions (which differ between implementations).
class Rng {
public:
    uint64_t state;

    explicit Rng(uint64_t seed) : state(seed) {}

    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    // Uniform in [-1, 1).
    double bipolar() { return 2.0 * uniform() - 1.0; }
};

// Attack, exponential decay towards the sustain level, and a raised-cosine release that
// reaches exactly zero: every note starts and ends at rest, so nothing clicks.
struct Envelope {
    double attack = 0.005;   // seconds, linear rise
    double decay = 0.2;      // seconds, time constant of the fall to sustain
    double sustain = 1.0;    // level held while the gate is open
    double release = 0.05;   // seconds from gate end to silence

    double held(double t) const
    {
        if (t <= 0.0)
            return 0.0;
        if (t < attack)
            return t / attack;
        return sustain + (1.0 - sustain) * std::exp(-(t - attack) / decay);
    }
    // Level at time t after note-on for a gate of the given length.
    double at(double t, double gate) const
    {
        if (t < gate)
            return held(t);
        double r = t - gate;
        if (r >= release)
            return 0.0;
        return held(gate) * 0.5 * (1.0 + std::cos(pi * r / release));
    }
};

// Band-limited sawtooth by polynomial correction of the step (PolyBLEP).
inline double polyBlep(double phase, double increment)
{
    if (phase < increment) {
        double x = phase / increment;
        return x + x - x * x - 1.0;
    }
    if (phase > 1.0 - increment) {
        double x = (phase - 1.0) / increment;
        return x * x + x + x + 1.0;
    }
    return 0.0;
}

struct SawOscillator {
    double phase = 0.0;  // [0, 1)

    double next(double hz)
    {
        double increment = hz / sampleRate;
        double value = 2.0 * phase - 1.0 - polyBlep(phase, increment);
        phase += increment;
        phase -= std::floor(phase);
        return value;
    }
};

// A phase in turns that only advances: the carrier of an FM voice, whose sine is taken
// after the modulation has been added.
struct Phasor {
    double phase = 0.0;  // [0, 1)

    double advance(double hz)
    {
        double current = phase;
        phase += hz / sampleRate;
        phase -= std::floor(phase);
        return current;
    }
};

struct SineOscillator {
    double phase = 0.0;  // [0, 1)

    double next(double hz)
    {
        double value = sineOfTurns(phase);
        phase += hz / sampleRate;
        phase -= std::floor(phase);
        return value;
    }
};

// State-variable filter in trapezoidal form: stable under fast cutoff sweeps, which the
// plucks and risers rely on. The coefficients are kept apart so voices that sweep can
// refresh them every few samples and stereo pairs can share them.
struct FilterCoefficients {
    double a1;
    double a2;
    double a3;
    double k;

    FilterCoefficients(double cutoffHz, double resonance)
    {
        double limited = std::fmin(std::fmax(cutoffHz, 10.0), 0.45 * sampleRate);
        double g = std::tan(pi * limited / sampleRate);
        k = 1.0 / resonance;
        a1 = 1.0 / (1.0 + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
};

struct StateVariableFilter {
    double ic1 = 0.0;
    double ic2 = 0.0;
    double low = 0.0;
    double band = 0.0;
    double high = 0.0;

    void process(double input, const FilterCoefficients& c)
    {
        double v3 = input - ic2;
        double v1 = c.a1 * ic1 + c.a2 * v3;
        double v2 = ic2 + c.a2 * ic1 + c.a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        low = v2;
        band = v1;
        high = input - c.k * v1 - v2;
    }
};

// One-pole low-pass, used for damping and smoothing.
struct OnePole {
    double state = 0.0;
    double coefficient;  // 0 (frozen) .. 1 (pass-through)

    explicit OnePole(double cutoffHz = 1000.0) : coefficient(1.0 - std::exp(-twoPi * cutoffHz / sampleRate)) {}
    double process(double input) { return state += coefficient * (input - state); }
};

// Constant-power pan: position -1 (left) .. +1 (right).
struct Pan {
    double left;
    double right;

    explicit Pan(double position)
        : left(std::cos((position + 1.0) * pi / 4.0))
        , right(std::sin((position + 1.0) * pi / 4.0))
    {
    }
};

} // namespace Synth
