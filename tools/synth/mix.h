#pragma once

// The buses the score plays into, and the routing of one voice onto them.

#include "dsp.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Synth {

struct Frame {
    double left;
    double right;
};

// A stereo signal covering the whole track.
struct Bus {
    std::vector<float> left;
    std::vector<float> right;

    explicit Bus(size_t frames) : left(frames, 0.0f), right(frames, 0.0f) {}
    size_t frames() const { return left.size(); }
};

inline size_t frameAt(double seconds)
{
    return seconds <= 0.0 ? 0 : static_cast<size_t>(std::llround(seconds * sampleRate));
}

// The mix before the effects: two dry buses and the effect sends.
struct Mix {
    Bus steady;      // drums, hits and effects: never ducked
    Bus pumped;      // pads, bass and arpeggios: ducked after every kick
    Bus reverbSend;
    Bus echoSend;
    std::vector<double> pumpTimes;  // kick onsets, in seconds

    explicit Mix(size_t frames) : steady(frames), pumped(frames), reverbSend(frames), echoSend(frames) {}
};

// One voice's way into the mix: a dry bus plus reverb and echo send levels.
struct Output {
    Mix* mix;
    Bus* dry;
    double reverb;
    double echo;

    // Adds voice(t) -> Frame for t in [0, length) seconds after start, clipped to the bus.
    template <typename Voice>
    void play(double start, double length, Voice&& voice) const
    {
        size_t first = frameAt(start);
        size_t count = frameAt(length);
        size_t end = dry->frames();
        for (size_t i = 0; i < count && first + i < end; ++i) {
            Frame f = voice(static_cast<double>(i) / sampleRate);
            size_t n = first + i;
            dry->left[n] += static_cast<float>(f.left);
            dry->right[n] += static_cast<float>(f.right);
            if (reverb > 0.0) {
                mix->reverbSend.left[n] += static_cast<float>(reverb * f.left);
                mix->reverbSend.right[n] += static_cast<float>(reverb * f.right);
            }
            if (echo > 0.0) {
                mix->echoSend.left[n] += static_cast<float>(echo * f.left);
                mix->echoSend.right[n] += static_cast<float>(echo * f.right);
            }
        }
    }
};

// A seed that depends only on where a note sits, so one voice's noise never shifts
// when other notes are added to the score.
inline uint64_t noteSeed(double start, int salt)
{
    return static_cast<uint64_t>(frameAt(start)) * 1000003ull + static_cast<uint64_t>(salt) * 7919ull + 17ull;
}

} // namespace Synth
