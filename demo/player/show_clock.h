#pragma once

// The live show's clock, apart from the window and the audio device so that it is tested
// without either: the free clock read from the system clock's microseconds, which alone makes
// the picture's time, and the hand-over of that time to the music, which keeps to it.

#include "timeline.h"

#include <algorithm>
#include <cstdint>

// Between restarts the free clock reads as the system clock's own float seconds (microseconds
// divided in single precision), so that an untouched show's time is that reading to the bit;
// what lay before the last restart is kept in double. Restarted at each loop and each key, a
// show running for months still moves in microseconds, where a float of the whole run would
// step by a second.
class FreeClock {
public:
    double read(std::int64_t microseconds) const
    {
        return before + static_cast<double>(static_cast<float>(microseconds - epoch) / 1000000.0f);
    }
    // Readings go on from where they were: only their precision is renewed.
    void restart(std::int64_t microseconds)
    {
        before = read(microseconds);
        epoch = microseconds;
    }

    std::int64_t epoch = 0;
    double before = 0.0;
};

// A running frame's clock after the keys it saw. The picture's time is the timeline's on the free
// clock, whatever the music does: it never decreases from one frame to the next but by a key or
// the loop's restart, and it never holds while the show is not paused. Where a key or the loop
// moved the show, the free clock is renewed there (its reading goes on unchanged).
inline void renewAfterKeys(FreeClock& freeClock, std::int64_t microseconds, const Timeline::Frame& frame,
                           bool pauseToggled, bool jumped)
{
    if (pauseToggled || jumped || frame.restarted)
        freeClock.restart(microseconds);
}

// How far the picture seen lags the show's clock: a frame presented at clock time c shows the
// time it was drawn for until the next replaces it, so over a frame's stay it lags by half the
// time between frames on average. Told to the music, that puts the sound in the middle of each
// frame's stay rather than at its start: a 20th of a second of frames leaves the sound within
// 25 ms either side of the picture seen, where it would otherwise lead it by up to 50 ms. At
// most 30 ms, for slower frames: the sound then stays well within the 125 ms it may lag the
// show's clock, with room for the output's own error and underruns on a loaded machine.
class SeenPicture {
public:
    // At each frame's presentation, with the free clock's reading then: the seconds the picture
    // seen lags the clock.
    double presented(double clock)
    {
        if (hasLast) {
            // Smoothed over a few frames; a frame loop that stopped (the window hidden, the
            // machine asleep) counts as one slow frame.
            const double interval = std::min(clock - last, 1.0);
            average = average == 0.0 ? interval : average + 0.25 * (interval - average);
        }
        hasLast = true;
        last = clock;
        return std::min(0.5 * average, mostLag);
    }

    static constexpr double mostLag = 0.030;
    double average = 0.0; // seconds between presentations
    double last = 0.0;
    bool hasLast = false;
};

// Once the frame showing `t` is presented, the music is told where the picture seen is (`t`,
// less how far it lags: SeenPicture), and keeps to it on its own (Music::follow): it is moved to
// the picture, never the picture to it, held while the show is paused. `Sound` is the player's
// music; `sound` is null where none plays.
template <typename Sound>
void keepTheMusicOnThePicture(Sound* sound, const Timeline& timeline, float t, double seenLag = 0.0)
{
    if (sound != nullptr)
        sound->follow(static_cast<double>(t) - (timeline.paused() ? 0.0 : seenLag), !timeline.paused());
}
