#include "instruments.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace Synth {

namespace {

// Sweeping filters refresh their coefficients this often (samples): tan() per sample
// would dominate the render time for no audible gain.
constexpr int coefficientInterval = 16;

// Level that falls to zero over the last `taper` seconds of `length`: applied to voices
// whose natural decay is cut off at the end of their buffer.
double tail(double t, double length, double taper)
{
    double left = length - t;
    if (left >= taper)
        return 1.0;
    if (left <= 0.0)
        return 0.0;
    return 0.5 * (1.0 - std::cos(pi * left / taper));
}

// A short linear fade-in that keeps percussive attacks free of clicks.
double onset(double t, double attack)
{
    return t < attack ? t / attack : 1.0;
}

} // namespace

void pad(const Output& out, double start, double length, int note, double gain, const PadTone& tone)
{
    constexpr int voices = 5;
    Rng rng(noteSeed(start, note));
    std::array<SawOscillator, voices> saws;
    std::array<double, voices> ratios;
    std::array<Pan, voices> pans{Pan(0), Pan(0), Pan(0), Pan(0), Pan(0)};
    // Detune and position are interleaved so the sharpest voice is not always on one side.
    const double spread[voices] = {-1.0, 0.5, 0.0, -0.5, 1.0};
    const double place[voices] = {-1.0, -0.5, 0.0, 0.5, 1.0};
    for (int v = 0; v < voices; ++v) {
        saws[v].phase = rng.uniform();
        ratios[v] = std::pow(2.0, tone.detuneCents * spread[v] / 1200.0);
        pans[v] = Pan(tone.width * place[v]);
    }
    const double hz = midiToHz(note);
    const double level = gain / std::sqrt(static_cast<double>(voices));
    const double sweep = std::log(tone.cutoffEnd / tone.cutoffStart);
    const Envelope envelope{tone.attack, 1.0, 1.0, tone.release};
    StateVariableFilter left;
    StateVariableFilter right;
    FilterCoefficients coefficients(tone.cutoffStart, tone.resonance);
    int counter = 0;
    out.play(start, length + tone.release, [&](double t) {
        if (counter++ % coefficientInterval == 0) {
            double x = std::min(t / length, 1.0);
            coefficients = FilterCoefficients(tone.cutoffStart * std::exp(sweep * x), tone.resonance);
        }
        double l = 0.0;
        double r = 0.0;
        for (int v = 0; v < voices; ++v) {
            double s = saws[v].next(hz * ratios[v]);
            l += s * pans[v].left;
            r += s * pans[v].right;
        }
        left.process(l, coefficients);
        right.process(r, coefficients);
        double a = level * envelope.at(t, length);
        return Frame{a * left.low, a * right.low};
    });
}

void bass(const Output& out, double start, double length, int note, double gain, double cutoffHz,
          double envelopeHz)
{
    const double hz = midiToHz(note);
    const Envelope envelope{0.004, 0.25, 0.75, 0.03};
    SawOscillator saw;
    SineOscillator sub;
    StateVariableFilter filter;
    FilterCoefficients coefficients(cutoffHz + envelopeHz, 0.9);
    int counter = 0;
    const Pan centre(0.0);
    out.play(start, length + envelope.release, [&](double t) {
        if (counter++ % coefficientInterval == 0)
            coefficients = FilterCoefficients(cutoffHz + envelopeHz * std::exp(-t / 0.09), 0.9);
        filter.process(saw.next(hz), coefficients);
        double s = gain * envelope.at(t, length) * (0.7 * filter.low + 0.6 * sub.next(hz));
        return Frame{s * centre.left, s * centre.right};
    });
}

void pluck(const Output& out, double start, int note, double gain, double pan, double brightness)
{
    const double hz = midiToHz(note);
    const Envelope envelope{0.002, 0.16, 0.0, 0.12};
    const double gate = 0.5;
    const Pan place(pan);
    Phasor carrier;
    SineOscillator modulator;
    SineOscillator shimmer;
    out.play(start, gate + envelope.release, [&](double t) {
        double index = (0.6 + 3.4 * brightness) * std::exp(-t / 0.07) / twoPi;
        double s = sineOfTurns(carrier.advance(hz) + index * modulator.next(2.0 * hz)) +
                   0.25 * brightness * shimmer.next(4.0 * hz) * std::exp(-t / 0.05);
        s *= gain * envelope.at(t, gate);
        return Frame{s * place.left, s * place.right};
    });
}

void bell(const Output& out, double start, int note, double gain, double pan, double decaySeconds)
{
    const double hz = midiToHz(note);
    const double length = decaySeconds * 4.0;
    const Pan place(pan);
    const double detune = std::pow(2.0, 2.5 / 1200.0);
    Phasor carrierLeft;
    Phasor carrierRight;
    SineOscillator modulatorLeft;
    SineOscillator modulatorRight;
    // Both decays run as per-sample factors: bells ring long, and exp() per sample adds up.
    const double ringFactor = std::exp(-1.0 / (decaySeconds * sampleRate));
    const double indexFactor = std::exp(-1.0 / (0.3 * decaySeconds * sampleRate));
    double ring = 1.0;
    double index = 1.8 / twoPi;
    out.play(start, length, [&](double t) {
        double a = gain * onset(t, 0.003) * ring * tail(t, length, 0.3);
        double left = sineOfTurns(carrierLeft.advance(hz / detune) + index * modulatorLeft.next(3.5 * hz / detune));
        double right = sineOfTurns(carrierRight.advance(hz * detune) + index * modulatorRight.next(3.5 * hz * detune));
        ring *= ringFactor;
        index *= indexFactor;
        return Frame{a * place.left * left, a * place.right * right};
    });
}

void lead(const Output& out, double start, double length, int note, double gain)
{
    const double hz = midiToHz(note);
    const Envelope envelope{0.02, 0.5, 0.8, 0.25};
    const double detune = std::pow(2.0, 7.0 / 1200.0);
    const Pan left(-0.35);
    const Pan right(0.35);
    SawOscillator a;
    SawOscillator b;
    b.phase = 0.37;
    SineOscillator vibrato;
    StateVariableFilter filterA;
    StateVariableFilter filterB;
    const FilterCoefficients coefficients(2600.0, 1.0);
    out.play(start, length + envelope.release, [&](double t) {
        double depth = 0.25 * std::min(std::max(t - 0.3, 0.0) / 0.4, 1.0);
        double bend = std::pow(2.0, depth * vibrato.next(5.5) / 12.0);
        filterA.process(a.next(hz * bend / detune), coefficients);
        filterB.process(b.next(hz * bend * detune), coefficients);
        double level = gain * envelope.at(t, length);
        return Frame{level * (filterA.low * left.left + filterB.low * right.left),
                     level * (filterA.low * left.right + filterB.low * right.right)};
    });
}

void drone(const Output& out, double start, double length, int note, double gain)
{
    const double hz = midiToHz(note);
    const Envelope envelope{4.0, 1.0, 1.0, 4.0};
    SineOscillator partials[6];
    SineOscillator swayLeft;
    SineOscillator swayRight;
    swayRight.phase = 0.5;
    out.play(start, length + envelope.release, [&](double t) {
        // Left and right a fraction of a hertz apart: a slow, wide beating.
        double l = partials[0].next(hz - 0.15) + 0.3 * partials[1].next(2.0 * hz - 0.2) +
                   0.1 * partials[2].next(3.0 * hz + 0.3);
        double r = partials[3].next(hz + 0.15) + 0.3 * partials[4].next(2.0 * hz + 0.2) +
                   0.1 * partials[5].next(3.0 * hz - 0.3);
        double level = gain * envelope.at(t, length);
        return Frame{level * l * (0.85 + 0.15 * swayLeft.next(0.11)),
                     level * r * (0.85 + 0.15 * swayRight.next(0.13))};
    });
}

void wind(const Output& out, double start, double length, double gain)
{
    Rng rng(noteSeed(start, 900));
    const Envelope envelope{3.0, 1.0, 1.0, 3.0};
    StateVariableFilter left;
    StateVariableFilter right;
    FilterCoefficients cl(650.0, 2.5);
    FilterCoefficients cr(650.0, 2.5);
    int counter = 0;
    out.play(start, length + envelope.release, [&](double t) {
        if (counter++ % coefficientInterval == 0) {
            cl = FilterCoefficients(650.0 * std::exp(0.8 * std::sin(twoPi * 0.07 * t)), 2.5);
            cr = FilterCoefficients(650.0 * std::exp(0.8 * std::sin(twoPi * 0.053 * t + 1.7)), 2.5);
        }
        left.process(rng.bipolar(), cl);
        right.process(rng.bipolar(), cr);
        double level = gain * envelope.at(t, length);
        return Frame{level * left.band, level * right.band};
    });
}

void kick(const Output& out, double start, double gain)
{
    Rng rng(noteSeed(start, 1));
    const double length = 0.55;
    double phase = 0.0;
    StateVariableFilter click;
    const FilterCoefficients clickTone(3000.0, 0.7);
    out.play(start, length, [&](double t) {
        double hz = 44.0 + 120.0 * std::exp(-t / 0.03);
        double body = sineOfTurns(phase);
        phase += hz / sampleRate;
        body = std::tanh(1.6 * body) / std::tanh(1.6);
        click.process(rng.bipolar(), clickTone);
        double s = body * std::exp(-t / 0.28) + 0.35 * click.low * std::exp(-t / 0.004);
        s *= gain * onset(t, 0.0015) * tail(t, length, 0.06);
        return Frame{0.7071 * s, 0.7071 * s};
    });
}

void snare(const Output& out, double start, double gain)
{
    Rng rng(noteSeed(start, 2));
    const double length = 0.4;
    SineOscillator body;
    StateVariableFilter left;
    StateVariableFilter right;
    const FilterCoefficients colour(2800.0, 0.6);
    out.play(start, length, [&](double t) {
        double tone = 0.5 * body.next(175.0 + 40.0 * std::exp(-t / 0.02)) * std::exp(-t / 0.05);
        left.process(rng.bipolar(), colour);
        right.process(rng.bipolar(), colour);
        double noise = std::exp(-t / 0.11);
        double a = gain * onset(t, 0.001) * tail(t, length, 0.05);
        return Frame{a * (tone + noise * left.band), a * (tone + noise * right.band)};
    });
}

void clap(const Output& out, double start, double gain)
{
    Rng rng(noteSeed(start, 3));
    const double length = 0.5;
    StateVariableFilter left;
    StateVariableFilter right;
    const FilterCoefficients colour(1400.0, 1.2);
    out.play(start, length, [&](double t) {
        // Three quick bursts, then the tail: several hands not quite together.
        double level = 0.0;
        for (double burst : {0.0, 0.011, 0.022})
            if (t >= burst)
                level = std::max(level, onset(t - burst, 0.0008) * std::exp(-(t - burst) / 0.004));
        if (t >= 0.031)
            level = std::max(level, onset(t - 0.031, 0.0008) * 0.8 * std::exp(-(t - 0.031) / 0.12));
        left.process(rng.bipolar(), colour);
        right.process(rng.bipolar(), colour);
        double a = 2.0 * gain * level * tail(t, length, 0.05);
        return Frame{a * left.band, a * right.band};
    });
}

void hat(const Output& out, double start, double gain, double decaySeconds, double pan)
{
    Rng rng(noteSeed(start, 4));
    const double length = std::min(decaySeconds * 6.0, 1.5);
    const Pan place(pan);
    // Square waves at unrelated frequencies give the metallic edge; noise gives the air.
    const double metal[6] = {2053.0, 2933.0, 3719.0, 4567.0, 5801.0, 7127.0};
    double phases[6] = {0.1, 0.7, 0.3, 0.9, 0.5, 0.2};
    StateVariableFilter highPass;
    StateVariableFilter lowPass;
    const FilterCoefficients edge(7500.0, 0.8);
    const FilterCoefficients top(12000.0, 0.7);  // no fizz above: the track stays dark
    out.play(start, length, [&](double t) {
        double s = 0.0;
        for (int i = 0; i < 6; ++i) {
            s += phases[i] < 0.5 ? 1.0 : -1.0;
            phases[i] += metal[i] / sampleRate;
            phases[i] -= std::floor(phases[i]);
        }
        highPass.process(0.08 * s + rng.bipolar(), edge);
        lowPass.process(highPass.high, top);
        double a = 1.4 * gain * onset(t, 0.0008) * std::exp(-t / decaySeconds) * tail(t, length, 0.02);
        return Frame{a * lowPass.low * place.left, a * lowPass.low * place.right};
    });
}

void crash(const Output& out, double start, double gain, double decaySeconds)
{
    Rng rng(noteSeed(start, 5));
    const double length = decaySeconds * 5.0;
    StateVariableFilter left;
    StateVariableFilter right;
    StateVariableFilter topLeft;
    StateVariableFilter topRight;
    const FilterCoefficients colour(4000.0, 0.7);
    const FilterCoefficients top(10000.0, 0.7);
    out.play(start, length, [&](double t) {
        left.process(rng.bipolar(), colour);
        right.process(rng.bipolar(), colour);
        topLeft.process(left.high, top);
        topRight.process(right.high, top);
        double a = 1.4 * gain * onset(t, 0.002) * std::exp(-t / decaySeconds) * tail(t, length, 0.3);
        return Frame{a * topLeft.low, a * topRight.low};
    });
}

void tom(const Output& out, double start, int note, double gain)
{
    Rng rng(noteSeed(start, 6));
    const double hz = midiToHz(note);
    const double length = 1.2;
    double phase = 0.0;
    out.play(start, length, [&](double t) {
        double s = sineOfTurns(phase) * std::exp(-t / 0.35) + 0.2 * rng.bipolar() * std::exp(-t / 0.01);
        phase += hz * (1.0 + 0.6 * std::exp(-t / 0.04)) / sampleRate;
        s *= gain * onset(t, 0.001) * tail(t, length, 0.1);
        return Frame{0.7071 * s, 0.7071 * s};
    });
}

void boom(const Output& out, double start, double gain)
{
    Rng rng(noteSeed(start, 7));
    const double length = 3.0;
    double phase = 0.0;
    StateVariableFilter rumble;
    const FilterCoefficients colour(150.0, 0.7);
    out.play(start, length, [&](double t) {
        double hz = 32.0 + 40.0 * std::exp(-t / 0.25);
        double s = sineOfTurns(phase) * std::exp(-t / 0.9);
        phase += hz / sampleRate;
        rumble.process(rng.bipolar(), colour);
        s += 0.8 * rumble.low * std::exp(-t / 0.4);
        s *= gain * onset(t, 0.004) * tail(t, length, 0.4);
        return Frame{0.7071 * s, 0.7071 * s};
    });
}

void swell(const Output& out, double end, double length, double gain)
{
    Rng rng(noteSeed(end, 8));
    StateVariableFilter left;
    StateVariableFilter right;
    FilterCoefficients coefficients(250.0, 1.2);
    int counter = 0;
    out.play(end - length, length, [&](double t) {
        double x = t / length;
        if (counter++ % coefficientInterval == 0)
            coefficients = FilterCoefficients(250.0 * std::pow(16.0, x), 1.2);
        left.process(rng.bipolar(), coefficients);
        right.process(rng.bipolar(), coefficients);
        double a = gain * std::pow(x, 2.5) * tail(t, length, 0.015);
        return Frame{a * left.band, a * right.band};
    });
}

void riser(const Output& out, double start, double length, double gain)
{
    Rng rng(noteSeed(start, 9));
    StateVariableFilter left;
    StateVariableFilter right;
    StateVariableFilter topLeft;
    StateVariableFilter topRight;
    StateVariableFilter tone;
    SawOscillator saw;
    const FilterCoefficients top(9000.0, 0.7);
    FilterCoefficients air(400.0, 0.9);
    FilterCoefficients body(600.0, 1.5);
    int counter = 0;
    out.play(start, length, [&](double t) {
        double x = t / length;
        if (counter++ % coefficientInterval == 0) {
            air = FilterCoefficients(400.0 * std::pow(15.0, x), 0.9);
            body = FilterCoefficients(600.0 * std::pow(6.0, x), 1.5);
        }
        left.process(rng.bipolar(), air);
        right.process(rng.bipolar(), air);
        topLeft.process(left.high, top);
        topRight.process(right.high, top);
        tone.process(saw.next(midiToHz(45.0 + 24.0 * x)), body);
        double a = gain * x * x * tail(t, length, 0.02);
        return Frame{a * (topLeft.low + 0.3 * tone.low), a * (topRight.low + 0.3 * tone.low)};
    });
}

} // namespace Synth
