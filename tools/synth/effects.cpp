#include "effects.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace Synth {

namespace {

// A fixed delay: read() gives the sample written `length` writes ago.
class DelayLine {
public:
    explicit DelayLine(size_t length) : buffer(std::max<size_t>(length, 1), 0.0) {}
    double read() const { return buffer[position]; }
    void write(double value)
    {
        buffer[position] = value;
        if (++position == buffer.size())
            position = 0;
    }

private:
    std::vector<double> buffer;
    size_t position = 0;
};

} // namespace

void applyReverb(Bus& bus, double decaySeconds, double dampingHz, double preDelaySeconds)
{
    constexpr int lineCount = 8;
    // Mutually prime lengths (35 to 104 ms) so the echoes never pile up on one period.
    const std::array<size_t, lineCount> lengths = {1553, 1993, 2287, 2797, 3083, 3533, 4049, 4597};
    std::vector<DelayLine> lines;
    std::array<double, lineCount> feedback;
    std::array<OnePole, lineCount> damping;
    for (int i = 0; i < lineCount; ++i) {
        lines.emplace_back(lengths[i]);
        feedback[i] = std::pow(10.0, -3.0 * static_cast<double>(lengths[i]) / (sampleRate * decaySeconds));
        damping[i] = OnePole(dampingHz);
    }
    DelayLine preLeft(frameAt(preDelaySeconds));
    DelayLine preRight(frameAt(preDelaySeconds));
    const double norm = 1.0 / std::sqrt(static_cast<double>(lineCount));

    for (size_t n = 0; n < bus.frames(); ++n) {
        double inLeft = preLeft.read();
        double inRight = preRight.read();
        preLeft.write(bus.left[n]);
        preRight.write(bus.right[n]);

        std::array<double, lineCount> y;
        for (int i = 0; i < lineCount; ++i)
            y[i] = damping[i].process(lines[i].read());
        bus.left[n] = static_cast<float>(0.5 * (y[0] - y[2] + y[4] - y[6]));
        bus.right[n] = static_cast<float>(0.5 * (y[1] - y[3] + y[5] - y[7]));

        // In-place fast Hadamard transform: every line feeds every other, energy kept.
        for (int h = 1; h < lineCount; h *= 2)
            for (int i = 0; i < lineCount; i += 2 * h)
                for (int j = i; j < i + h; ++j) {
                    double a = y[j];
                    double b = y[j + h];
                    y[j] = a + b;
                    y[j + h] = a - b;
                }
        for (int i = 0; i < lineCount; ++i) {
            double input = (i % 2 == 0 ? inLeft : inRight) * ((i / 2) % 2 == 0 ? 0.5 : -0.5);
            lines[i].write(feedback[i] * norm * y[i] + input);
        }
    }
}

void applyEcho(Bus& bus, double delaySeconds, double feedback, double dampingHz)
{
    DelayLine left(frameAt(delaySeconds));
    DelayLine right(frameAt(delaySeconds));
    OnePole dampLeft(dampingHz);
    OnePole dampRight(dampingHz);
    // Each hop loses the square root of the feedback, so a round trip loses `feedback`.
    const double hop = std::sqrt(feedback);
    for (size_t n = 0; n < bus.frames(); ++n) {
        double a = left.read();
        double b = right.read();
        double input = 0.5 * (static_cast<double>(bus.left[n]) + bus.right[n]);
        left.write(input + hop * dampRight.process(b));
        right.write(hop * dampLeft.process(a));
        bus.left[n] = static_cast<float>(a);
        bus.right[n] = static_cast<float>(b);
    }
}

void applyPump(Bus& bus, const std::vector<double>& times, double depth, double recoverySeconds)
{
    constexpr double attack = 0.006;
    size_t next = 0;
    double previous = -1.0e9;  // onset before the current one
    double current = -1.0e9;
    for (size_t n = 0; n < bus.frames(); ++n) {
        double t = static_cast<double>(n) / sampleRate;
        while (next < times.size() && times[next] <= t) {
            previous = current;
            current = times[next++];
        }
        auto shape = [&](double since) {
            if (since < 0.0)
                return 0.0;
            if (since < attack)
                return since / attack;
            return std::exp(-(since - attack) / recoverySeconds);
        };
        // The new dip takes over from the old one's remainder without a step.
        double dip = std::max(shape(t - current), shape(t - previous));
        double gain = 1.0 - depth * dip;
        bus.left[n] = static_cast<float>(bus.left[n] * gain);
        bus.right[n] = static_cast<float>(bus.right[n] * gain);
    }
}

} // namespace Synth
