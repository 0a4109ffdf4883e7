#pragma once

// The sound heard against the picture seen, for the tests that hold the music to the show's
// clock: a soundtrack of clicks, what a sink's monitor recorded placed on the wall clock, and
// how far each click heard lies from the picture's time at that moment.

#include "demo_process.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TestSupport {

// Half a second apart: a click heard up to a quarter second early or late is still told for the
// one it is, well past the window below.
constexpr double clickInterval = 0.5;

// `seconds` of silence with a click (4 ms at 1500 Hz) every clickInterval, as an MP3 made by
// lame in `folder` under `name`; empty when it could not be made.
std::string makeClickTrack(const std::string& folder, const std::string& name = "clicks.mp3", double seconds = 90.0);

// A click (8 ms) every quarter second whose pitch tells the second of the track it lies in,
// modulo 8: 1000 Hz in seconds 0, 8, 16 ..., 1500 Hz in seconds 1, 9 ..., up to 4500 Hz. A sound a
// few seconds off the picture cannot pass for one on it.
constexpr double pitchedClickInterval = 0.25;
std::string makePitchedClickTrack(const std::string& folder, const std::string& name, double seconds);

// Where the clicks lie in the track as the player's own decoder delivers it (after the
// encoder's delay): the first loud sample of each, in seconds.
std::vector<double> clickPositions(const std::string& mp3);

// A click heard: when, on the wall clock, and the second (modulo 8) its pitch tells, or -1 where
// that was not asked for.
struct HeardClick {
    double wall;
    int second;
};

// What a PulseAudio server's default sink plays, recorded from its monitor by parec while this
// lives. poll(), called often, places the recording on the wall clock (DemoTest::now()): sample
// n was at the sink no later than the first poll that saw the file hold it, so the earliest such
// bound among the polls from there on places it. A stretch where the sink recorded nothing (a
// suspended sink) only moves what comes after it later, which that bound follows.
class SinkRecorder {
public:
    // `server`: the server's address (PULSE_SERVER); `path`: the raw file to record into.
    SinkRecorder(const std::string& server, std::string path);
    ~SinkRecorder();
    SinkRecorder(const SinkRecorder&) = delete;
    SinkRecorder& operator=(const SinkRecorder&) = delete;

    bool recording() const { return started; }
    void poll();
    // Ends the recording; the wall-clock time of each click heard (its first loud sample).
    std::vector<double> finish();
    // The same for a track of makePitchedClickTrack, with the second each click's pitch tells.
    std::vector<HeardClick> finishPitched();

private:
    std::vector<HeardClick> heard(bool pitched);

    std::string path;
    std::unique_ptr<DemoTest::DemoProcess> recorder;
    struct Poll {
        double wall;
        long frames;
    };
    std::vector<Poll> polls;
    bool started = false;
};

// The picture's show time at a wall-clock moment; negative where it is not known.
using PictureTime = std::function<double(double wall)>;

// Heard less seen, in seconds, of each click heard within [from, to] of the wall clock: the
// click's place in the track less the picture's time when it was heard (the nearest click to
// that time is taken as the one heard). Negative: the sound lags the picture.
std::vector<double> heardLessSeen(const std::vector<double>& clickWalls, const std::vector<double>& clicks,
                                  const PictureTime& pictureAt, double from, double to);

// The same for clicks of a pitched track: each is taken for the nearest click of the second
// its pitch tells.
std::vector<double> heardLessSeen(const std::vector<HeardClick>& heard, const std::vector<double>& clicks,
                                  const PictureTime& pictureAt, double from, double to);

// ITU-R BT.1359's detectability window: the sound heard no more than 125 ms after the picture
// nor 45 ms before it.
constexpr double mostSoundLag = 0.125;
constexpr double mostSoundLead = 0.045;

} // namespace TestSupport
