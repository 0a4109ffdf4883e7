#include "mastering.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace Synth {

namespace {

struct Biquad {
    double b0, b1, b2, a1, a2;
    double z1 = 0.0;
    double z2 = 0.0;

    double process(double x)
    {
        double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

Biquad highPass(double hz, double q)
{
    double k = std::tan(pi * hz / sampleRate);
    double norm = 1.0 / (1.0 + k / q + k * k);
    return Biquad{norm, -2.0 * norm, norm, 2.0 * (k * k - 1.0) * norm, (1.0 - k / q + k * k) * norm};
}

// The two stages of the K-weighting filter, designed for our sample rate from their
// analogue prototypes: a +4 dB shelf above about 1.7 kHz, then a high-pass near 38 Hz.
Biquad kWeightingShelf()
{
    const double f0 = 1681.974450955533;
    const double gainDb = 3.999843853973347;
    const double q = 0.7071752369554196;
    double k = std::tan(pi * f0 / sampleRate);
    double vh = std::pow(10.0, gainDb / 20.0);
    double vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + k / q + k * k;
    return Biquad{(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
                  2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
}

Biquad kWeightingHighPass()
{
    const double f0 = 38.13547087602444;
    const double q = 0.5003270373238773;
    double k = std::tan(pi * f0 / sampleRate);
    double a0 = 1.0 + k / q + k * k;
    return Biquad{1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
}

double blockLoudness(double power)
{
    return -0.691 + 10.0 * std::log10(std::max(power, 1e-30));
}

// Windowed-sinc interpolators for the three points between two samples (4x oversampling).
constexpr int halfTaps = 12;
using Kernel = std::array<double, 2 * halfTaps>;

std::array<Kernel, 3> interpolationKernels()
{
    std::array<Kernel, 3> kernels;
    for (int p = 0; p < 3; ++p) {
        double fraction = 0.25 * (p + 1);
        for (int i = 0; i < 2 * halfTaps; ++i) {
            double x = static_cast<double>(i - halfTaps + 1) - fraction;  // taps n-11 .. n+12
            double sinc = std::sin(pi * x) / (pi * x);
            double window = 0.5 * (1.0 + std::cos(pi * x / halfTaps));
            kernels[p][i] = sinc * window;
        }
    }
    return kernels;
}

// For every frame, the largest magnitude the reconstructed waveform reaches in the
// intervals on either side of it, over both channels.
std::vector<float> peakEnvelope(const Bus& bus)
{
    const std::array<Kernel, 3> kernels = interpolationKernels();
    const size_t frames = bus.frames();
    std::vector<float> interval(frames, 0.0f);  // peak within [n, n+1]
    for (const std::vector<float>* channel : {&bus.left, &bus.right}) {
        const std::vector<float>& x = *channel;
        for (size_t n = 0; n < frames; ++n) {
            double peak = std::fabs(x[n]);
            if (n + 1 < frames)
                peak = std::max(peak, static_cast<double>(std::fabs(x[n + 1])));
            for (const Kernel& kernel : kernels) {
                double sum = 0.0;
                for (int i = 0; i < 2 * halfTaps; ++i) {
                    long long index = static_cast<long long>(n) + i - halfTaps + 1;
                    if (index >= 0 && index < static_cast<long long>(frames))
                        sum += kernel[i] * x[static_cast<size_t>(index)];
                }
                peak = std::max(peak, std::fabs(sum));
            }
            interval[n] = std::max(interval[n], static_cast<float>(peak));
        }
    }
    std::vector<float> envelope(frames);
    for (size_t n = 0; n < frames; ++n)
        envelope[n] = std::max(interval[n], n > 0 ? interval[n - 1] : 0.0f);
    return envelope;
}

// The limiter's gain curve: never above what keeps each frame under the ceiling, reached
// smoothly ahead of every peak (attack, computed backwards) and released slowly after.
std::vector<float> limiterGain(const std::vector<float>& peaks, double gain, double ceiling)
{
    const double attack = std::exp(-1.0 / (0.0015 * sampleRate));
    const double release = std::exp(-1.0 / (0.12 * sampleRate));
    const size_t frames = peaks.size();
    std::vector<float> curve(frames);
    for (size_t n = 0; n < frames; ++n) {
        double level = gain * peaks[n];
        curve[n] = static_cast<float>(level > ceiling ? ceiling / level : 1.0);
    }
    for (size_t n = frames - 1; n-- > 0;)
        curve[n] = std::min(curve[n], static_cast<float>(curve[n + 1] * attack + (1.0 - attack)));
    for (size_t n = 1; n < frames; ++n)
        curve[n] = std::min(curve[n], static_cast<float>(curve[n - 1] * release + (1.0 - release)));
    return curve;
}

double fadeGain(size_t frame, size_t frames, const MasterSettings& settings)
{
    double t = static_cast<double>(frame) / sampleRate;
    double gain = t < settings.fadeStart ? 1.0 : std::exp(-settings.fadeRate * (t - settings.fadeStart));
    double left = static_cast<double>(frames - 1 - frame) / sampleRate;  // zero on the last frame
    if (left < settings.endTaper)
        gain *= 0.5 * (1.0 - std::cos(pi * left / settings.endTaper));
    return gain;
}

} // namespace

double integratedLoudness(const Bus& bus)
{
    const size_t step = frameAt(0.1);
    const size_t steps = bus.frames() / step;
    std::vector<double> stepPower(steps, 0.0);
    for (const std::vector<float>* channel : {&bus.left, &bus.right}) {
        Biquad shelf = kWeightingShelf();
        Biquad highPass = kWeightingHighPass();
        for (size_t s = 0; s < steps; ++s) {
            double sum = 0.0;
            for (size_t i = s * step; i < (s + 1) * step; ++i) {
                double y = highPass.process(shelf.process((*channel)[i]));
                sum += y * y;
            }
            stepPower[s] += sum / static_cast<double>(step);
        }
    }
    // 400 ms blocks overlapping by 75 %.
    std::vector<double> blocks;
    for (size_t s = 0; s + 4 <= steps; ++s)
        blocks.push_back(0.25 * (stepPower[s] + stepPower[s + 1] + stepPower[s + 2] + stepPower[s + 3]));

    auto gatedMean = [&](double threshold) {
        double sum = 0.0;
        size_t count = 0;
        for (double power : blocks)
            if (blockLoudness(power) > threshold) {
                sum += power;
                ++count;
            }
        return count > 0 ? sum / static_cast<double>(count) : 0.0;
    };
    double absolute = gatedMean(-70.0);
    if (absolute <= 0.0)
        return -70.0;
    return blockLoudness(gatedMean(blockLoudness(absolute) - 10.0));
}

double truePeak(const Bus& bus)
{
    std::vector<float> envelope = peakEnvelope(bus);
    return envelope.empty() ? 0.0 : *std::max_element(envelope.begin(), envelope.end());
}

MasterReport master(Bus& bus, const MasterSettings& settings)
{
    const size_t frames = bus.frames();
    for (std::vector<float>* channel : {&bus.left, &bus.right}) {
        Biquad rumble = highPass(22.0, 0.7071);
        for (float& sample : *channel)
            sample = static_cast<float>(rumble.process(sample));
    }
    const std::vector<float> peaks = peakEnvelope(bus);
    const double ceiling = dbToGain(settings.ceilingDb);

    // Limiting lowers the loudness a little more the louder the mix is driven, so the
    // make-up gain is found by a few rounds of measuring and correcting.
    Bus out(frames);
    double gainDb = settings.targetLufs - integratedLoudness(bus);
    std::vector<float> curve;
    for (int round = 0; round < 8; ++round) {
        double gain = dbToGain(gainDb);
        curve = limiterGain(peaks, gain, ceiling);
        for (size_t n = 0; n < frames; ++n) {
            double g = gain * curve[n] * fadeGain(n, frames, settings);
            out.left[n] = static_cast<float>(g * bus.left[n]);
            out.right[n] = static_cast<float>(g * bus.right[n]);
        }
        double error = settings.targetLufs - integratedLoudness(out);
        if (std::fabs(error) < 0.02)
            break;
        gainDb += error;
    }
    // The smoothed curve can leave a trace above the ceiling; trim it off uniformly.
    double peak = truePeak(out);
    if (peak > ceiling) {
        double trim = ceiling / peak;
        for (size_t n = 0; n < frames; ++n) {
            out.left[n] = static_cast<float>(out.left[n] * trim);
            out.right[n] = static_cast<float>(out.right[n] * trim);
        }
        peak = ceiling;
    }
    bus = std::move(out);
    return MasterReport{integratedLoudness(bus), gainToDb(peak), gainDb,
                        gainToDb(*std::min_element(curve.begin(), curve.end()))};
}

} // namespace Synth
