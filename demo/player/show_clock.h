#pragma once

// The live show's clock, apart from the window and the audio device so that it is tested
// without either: the free clock read from the system clock's microseconds, which alone makes
// the picture's time, and the hand-over of that time to the music, which keeps to it.

#include "timeline.h"

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

// Once the frame showing `t` is presented, the music is told where the picture is, and keeps to
// it on its own (Music::follow): it is moved to the picture, never the picture to it, held while
// the show is paused. `Sound` is the player's music; `sound` is null where none plays.
template <typename Sound>
void keepTheMusicOnThePicture(Sound* sound, const Timeline& timeline, float t)
{
    if (sound != nullptr)
        sound->follow(static_cast<double>(t), !timeline.paused());
}
