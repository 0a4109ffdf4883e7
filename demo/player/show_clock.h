#pragma once

// The live show's clock, apart from the window and the audio device so that it is tested
// without either: the free clock read from the system clock's microseconds, and the rule that
// keeps the show time on the music heard.

#include "timeline.h"

#include <cstdint>
#include <optional>

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

// The correction that keeps a running show's time on the track position heard. After a start, a
// seek, a resume or a loop restart (anchor()) the show takes the heard position as it is, which
// holds the picture at the target until the music is heard moving; from then on small
// differences are slewed at a twentieth of the clock's rate and larger ones are made up at once
// forward, or by holding the picture until the music catches up, so that the show time never
// goes back between two frames. Without a heard position (no soundtrack, past its end) the free
// clock runs as it is.
class SoundFollower {
public:
    void anchor()
    {
        settling = true;
        settleHeard.reset();
    }

    // The seconds to add to the show time `t` of the frame at free clock `clock`.
    double correction(double clock, double t, std::optional<double> heard);

    // Differences up to this are slewed, beyond it made up at once.
    static constexpr double slewLimit = 0.1;
    // The most the slew changes the show time, per second of the clock.
    static constexpr double slewRate = 0.05;

    bool settling = true;
    std::optional<double> settleHeard; // the held position heard since anchor()
    bool hasLast = false;
    double lastClock = 0.0;
    double lastShown = 0.0;
};

// A running frame's music and time after the keys it saw. The music goes where the picture
// went, resuming from the very time held (each call only leaves a request for the audio
// thread); the picture then follows what is heard. `Sound` is the player's music (pause(),
// resume(), seek(float), heardSeconds()); `sound` is null where none plays.
template <typename Sound>
void followTheMusic(Sound* sound, Timeline& timeline, SoundFollower& follower, FreeClock& freeClock,
                    std::int64_t microseconds, double now, Timeline::Frame& frame, bool pauseToggled, bool jumped)
{
    const bool resumed = pauseToggled && !timeline.paused();
    if (sound != nullptr) {
        if (pauseToggled && timeline.paused())
            sound->pause();
        if (jumped || frame.restarted || resumed)
            sound->seek(frame.t);
        if (resumed)
            sound->resume();
    }
    if (pauseToggled || jumped || frame.restarted) {
        follower.anchor();
        freeClock.restart(microseconds);
    }
    if (!timeline.paused()) {
        const double shown = timeline.now(now);
        const double correction =
            follower.correction(now, shown, sound != nullptr ? sound->heardSeconds() : std::nullopt);
        if (correction != 0.0 && inShow(shown + correction)) {
            timeline.seekBy(now, correction);
            frame.t = static_cast<float>(timeline.now(now));
        }
    }
}
