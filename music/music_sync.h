#pragma once

// How the music keeps to the picture: the rule the audio thread applies at each callback once
// the show tells it where the picture is (Music::follow). Pure arithmetic, so that it is tested
// without a device.
//
// The picture leads: its time is the show's free clock, and the music is moved to it, never the
// other way round. At each callback the music compares the track frame it is about to write with
// the picture's time at the moment that frame will be heard (now, plus what the output still
// holds). Beyond the tolerances below it seeks there; within them it is left alone.
//
// Small drifts are left, not slewed. The music can only be moved by a seek (an audible skip or
// repeat of a few milliseconds) or by resampling it (a change of pitch, and a resampler in the
// callback). Neither is worth it for what stays inside the tolerances: the output's clock and
// the system's drift apart by well under 100 ppm, less than 9 ms over the whole show, and the
// position heard is itself known only to about one period of the output (the buffer between the
// callback and the ear is granted in periods of 25 ms, and a callback comes early or late by a
// few ms). What lies beyond them (a stall of the output, an underrun, a key, the loop's restart, a
// start whose music came late) is made up by one seek.

#include <cstdint>

struct MusicPosition {
    // False after a seek that failed (past the end of the track, or an unreadable stretch): the
    // music is silent, and `frame` is the frame that seek aimed at.
    bool known = true;
    // Known: the track frame that the next frame written to the output plays.
    std::int64_t frame = 0;
    // The track ran out at `frame`: what follows is silence.
    bool ended = false;
    // The music was silent (paused, or waiting for the first picture) and plays from this
    // callback on: nothing is heard yet, so it starts exactly on the picture.
    bool resuming = false;
};

// The rule, with what it remembers from one callback to the next.
class MusicSync {
public:
    // The track frame to seek to, or -1 to leave the music where it is. `picture`: the
    // picture's show time now, in seconds; `queuedFrames`: the output frames written but not
    // yet heard, at `rate` frames a second.
    std::int64_t seekFor(const MusicPosition& music, double picture, std::int64_t queuedFrames, double rate);

    // Seconds the heard sound may lead or lag the seen picture before the music is moved to it,
    // inside the detectability window of ITU-R BT.1359 (the sound no more than 45 ms ahead or
    // 125 ms behind) with room for the measure's own error: from one callback to the next it
    // swings by up to half a period (12.5 ms) about its steady value, and on PulseAudio's null
    // sink the sound was heard 5 to 15 ms later than reckoned (the output holds a little more
    // than the latency it was granted), which only widens the room on the side that matters.
    static constexpr double leadTolerance = 0.030;
    static constexpr double lagTolerance = 0.040;
    // A difference beyond a tolerance is acted on once this many callbacks in a row (75 ms) found
    // it on the same side: the measure of one callback swings by a period while the output fills
    // its buffer in bursts (at its start, after a stall), and a seek is audible.
    static constexpr int patience = 3;
    // Beyond this there is no doubt (a key, the loop, a stall): acted on at once.
    static constexpr double beyondDoubt = 0.25;

    // Callbacks in a row that found the music beyond a tolerance: ahead (> 0) or behind (< 0).
    int beyond = 0;
};
