// The live show's clock as keys move it, without a window: each row drives a timeline through
// a few steps at given clock readings and says what the frame after them shows.
#include "player/show_clock.h"
#include "player/timeline.h"

#include <SFML/System/Time.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Step {
    enum Kind { pause, resume, toggle, by, to, next, previous } kind;
    double clock;
    double seconds = 0.0; // by, to
};

struct Row {
    const char* what;
    double start;
    bool loop;
    std::vector<Step> steps;
    double clock; // when the frame is drawn
    float t;      // exact, as the frame draws it
    bool paused = false;
    bool over = false;
    bool restarted = false;
};

void apply(Timeline& timeline, const Step& step)
{
    switch (step.kind) {
    case Step::pause: return timeline.pause(step.clock);
    case Step::resume: return timeline.resume(step.clock);
    case Step::toggle: return timeline.togglePause(step.clock);
    case Step::by: return timeline.seekBy(step.clock, step.seconds);
    case Step::to: return timeline.seekTo(step.clock, step.seconds);
    case Step::next: return timeline.nextShot(step.clock);
    case Step::previous: return timeline.previousShot(step.clock);
    }
}

TEST(TimelineTest, KeysMoveTheShowTimeExactlyAndTheEndEndsOrLoops)
{
    using S = Step;
    const Row rows[] = {
        {"runs from its start", 38.4, false, {}, 2.5, float(40.9)},
        {"a pause holds hundredths", 0.0, false, {{S::pause, 48.374}}, 60.0, float(48.37), true},
        {"hundredths round to nearest", 0.0, false, {{S::pause, 48.376}}, 60.0, float(48.38), true},
        {"resume goes on from the held time", 0.0, false, {{S::pause, 10.004}, {S::resume, 20.0}}, 21.5,
         float(11.5)},
        {"toggling twice runs again", 0.0, false, {{S::toggle, 3.0}, {S::toggle, 5.0}}, 6.0, float(4.0)},
        {"a pause just before the end stays inside", 0.0, false, {{S::pause, 86.3999}}, 90.0, float(86.39), true},
        {"forward 5 s while running", 10.0, false, {{S::by, 1.0, 5.0}}, 2.0, float(17.0)},
        {"back past 0 stops at 0", 3.0, false, {{S::by, 1.0, -5.0}}, 1.0, 0.0f},
        {"1 s steps while paused stay in hundredths", 0.0, false, {{S::pause, 48.37}, {S::by, 49.0, 1.0}, {S::by, 49.1, 1.0}},
         50.0, float(50.37), true},
        {"next shot from inside shot 2", 5.0, false, {{S::next, 0.0}}, 0.0, 9.6f},
        {"next shot from a held shot start is the one after", 0.0, false,
         {{S::pause, 1.0}, {S::to, 2.0, 4.8}, {S::next, 3.0}}, 4.0, 9.6f, true},
        {"previous shot: back to this shot's start", 12.0, false, {{S::previous, 0.0}}, 0.0, 9.6f},
        {"previous shot within half a second: the one before", 9.9, false, {{S::previous, 0.0}}, 0.0, 4.8f},
        {"previous shot, held at a start", 0.0, false, {{S::pause, 1.0}, {S::to, 2.0, 48.0}, {S::previous, 3.0}}, 4.0,
         38.4f, true},
        {"previous shot in the first shot", 0.3, false, {{S::previous, 0.0}}, 0.0, 0.0f},
        {"next shot after the last ends the show", 80.0, false, {{S::next, 0.0}}, 0.0, 0.0f, false, true},
        {"the end ends the show", 86.0, false, {}, 0.4, 0.0f, false, true},
        {"just before the end is still drawn", 86.0, false, {}, 0.39, float(86.39)},
        {"a jump past the end ends it", 84.0, false, {{S::by, 0.0, 5.0}}, 0.0, 0.0f, false, true},
        {"a held jump past the end ends it", 84.0, false, {{S::pause, 0.0}, {S::by, 0.0, 5.0}}, 0.0, 0.0f, true, true},
        {"looping, the end starts again from 0", 86.0, true, {}, 0.5, 0.0f, false, false, true},
        {"looping, a jump past the end starts again", 84.0, true, {{S::by, 1.0, 5.0}}, 1.0, 0.0f, false, false, true},
        {"looping, held past the end: held at 0", 84.0, true, {{S::pause, 0.0}, {S::next, 1.0}}, 2.0, 0.0f, true, false,
         true},
    };
    for (const Row& row : rows) {
        Timeline timeline(row.start, 0.0, row.loop);
        for (const Step& step : row.steps)
            apply(timeline, step);
        const Timeline::Frame frame = timeline.frame(row.clock);
        EXPECT_EQ(frame.over, row.over) << row.what;
        EXPECT_EQ(frame.restarted, row.restarted) << row.what;
        EXPECT_EQ(timeline.paused(), row.paused) << row.what;
        if (!row.over) {
            EXPECT_EQ(frame.t, row.t) << row.what;
        }
    }
}

// A held time is exactly what --still reads from the title's digits, and the show time after a
// loop's restart runs on from 0.
TEST(TimelineTest, AHeldTimeIsTheStillOfTheTitlesDigits)
{
    for (double clock = 0.0; clock < 86.4; clock += 0.7313) {
        Timeline timeline(0.0, 0.0, false);
        timeline.pause(clock);
        char title[32];
        std::snprintf(title, sizeof title, "%.2f", static_cast<double>(timeline.frame(clock).t));
        EXPECT_EQ(timeline.frame(clock).t, static_cast<float>(std::stod(title))) << title;
    }
    Timeline looping(86.0, 0.0, true);
    EXPECT_TRUE(looping.frame(1.0).restarted);
    EXPECT_EQ(looping.frame(3.0).t, 2.0f);
}

// The free clock reads as the system clock's own float seconds until it is first restarted, so
// that an untouched show's time is unchanged to the bit; a show looping for 97 days, restarted at
// each loop as the live show does, still moves by every 60th of a second, where one float of the
// whole run moves by half a second at a time.
TEST(TimelineTest, TheFreeClockIsTheClocksOwnUntilRestartedAndStaysFineForMonths)
{
    FreeClock untouched;
    for (std::int64_t us = 0; us < 90'000'000; us += 12'345)
        ASSERT_EQ(untouched.read(us), static_cast<double>(sf::microseconds(us).asSeconds())) << us;

    const std::int64_t frame = 16'667, days97 = 97LL * 86'400'000'000LL;
    FreeClock clock;
    Timeline timeline(0.0, clock.read(0), true);
    for (std::int64_t us = 0; us < days97; us += 10'000'000)
        if (timeline.frame(clock.read(us)).restarted)
            clock.restart(us);
    int distinct = 0, distinctAsOneFloat = 0;
    float last = -1.0f, lastAsOneFloat = -1.0f;
    for (std::int64_t us = days97; us < days97 + 120 * frame; us += frame) {
        const Timeline::Frame shown = timeline.frame(clock.read(us));
        if (shown.restarted)
            clock.restart(us);
        distinct += shown.t != last;
        last = shown.t;
        const float asOneFloat = static_cast<float>(sf::microseconds(us).asSeconds());
        distinctAsOneFloat += asOneFloat != lastAsOneFloat;
        lastAsOneFloat = asOneFloat;
    }
    EXPECT_EQ(distinct, 120);
    EXPECT_LT(distinctAsOneFloat, 10) << "the run no longer shows the fault it guards against";
}

// What the show tells its music, frame by frame.
struct ToldSound {
    struct Told {
        double seconds;
        bool running;
    };
    std::vector<Told> told;
    void follow(double seconds, bool running) { told.push_back({seconds, running}); }
};

// The picture leads, as the live show and the page run their frames: its time is the free
// clock's, frames early, late or missing alike (a loaded machine, an output that stalls), never
// back and never held but by a key or the loop; and after each frame the music is told where
// the picture is, and whether it moves.
TEST(TimelineTest, ThePictureKeepsToTheFreeClockAndTellsTheMusicWhereItIs)
{
    struct Frame {
        std::int64_t us;
        enum Key { none, space, left, home } key = none;
    };
    const Frame frames[] = {
        {0},         {16'667},    {33'333},    {1'250'000}, // a frame late by more than a second
        {1'260'000}, {1'262'000}, {4'300'000},               // three seconds without a frame
        {4'316'667, Frame::space}, {6'000'000}, {6'100'000, Frame::space}, {6'116'667},
        {6'200'000, Frame::left}, {6'216'667}, {7'000'000, Frame::home}, {7'016'667},
        {94'000'000}, // past the end: the loop starts again
        {94'016'667},
    };
    ToldSound sound;
    FreeClock clock;
    Timeline timeline(40.0, clock.read(0), true);
    float previous = -1.0f;
    for (const Frame& f : frames) {
        SCOPED_TRACE(f.us);
        bool toggled = false, jumped = false;
        const double before = clock.read(f.us);
        if (f.key == Frame::space)
            timeline.togglePause(before), toggled = true;
        if (f.key == Frame::left)
            timeline.seekBy(before, -5.0), jumped = true;
        if (f.key == Frame::home)
            timeline.seekTo(before, 0.0), jumped = true;
        const double now = clock.read(f.us);
        Timeline::Frame frame = timeline.frame(now);
        ASSERT_FALSE(frame.over);
        renewAfterKeys(clock, f.us, frame, toggled, jumped);
        keepTheMusicOnThePicture(&sound, timeline, frame.t);
        ASSERT_FALSE(sound.told.empty());
        EXPECT_EQ(sound.told.back().seconds, static_cast<double>(frame.t));
        EXPECT_EQ(sound.told.back().running, !timeline.paused());
        if (!jumped && !frame.restarted && !toggled) {
            if (timeline.paused())
                EXPECT_EQ(frame.t, previous) << "a paused picture holds";
            else
                EXPECT_GT(frame.t, previous) << "a running picture never holds or goes back";
        }
        previous = frame.t;
    }
    // No key before the pause: the free clock's own reading from the start.
    EXPECT_EQ(sound.told[6].seconds, static_cast<double>(static_cast<float>(40.0 + static_cast<double>(4.3f))));
    // Held from 44.32 for 1.78 s, then on: 6.2 s of clock less the held time, less 5 s, is 39.42.
    EXPECT_NEAR(sound.told[11].seconds, 44.32 + (6.2 - 6.1) - 5.0, 1e-5);
    EXPECT_NEAR(sound.told[13].seconds, 0.0, 1e-6);
    EXPECT_TRUE(sound.told.back().running);
    EXPECT_LT(sound.told.back().seconds, 1.0) << "looped";
}

// Without a soundtrack (a null sound) the picture runs all the same.
TEST(TimelineTest, WithoutMusicThePictureRunsAllTheSame)
{
    Timeline timeline(10.0, 0.0, false);
    keepTheMusicOnThePicture(static_cast<ToldSound*>(nullptr), timeline, timeline.frame(2.0).t);
    EXPECT_EQ(timeline.frame(2.0).t, 12.0f);
}

// The picture seen lags the clock by half the time between frames, as frames come: nothing
// before the second, half of a steady interval, a stalled frame loop counted as one slow frame,
// and never more than 30 ms.
TEST(TimelineTest, ThePictureSeenLagsByHalfAFrame)
{
    struct Row {
        const char* what;
        std::vector<double> presentations; // clock readings
        double lag;                        // after the last
    };
    const Row rows[] = {
        {"the first frame", {10.0}, 0.0},
        {"twenty frames a second", {0.0, 0.05, 0.1, 0.15, 0.2, 0.25}, 0.025},
        {"sixty frames a second", {0.0, 1 / 60.0, 2 / 60.0, 3 / 60.0}, 1 / 120.0},
        {"two frames a second: at most 30 ms", {0.0, 0.5, 1.0, 1.5}, 0.030},
    };
    for (const Row& row : rows) {
        SeenPicture seen;
        double lag = -1.0;
        for (const double clock : row.presentations)
            lag = seen.presented(clock);
        EXPECT_NEAR(lag, std::min(row.lag, SeenPicture::mostLag), 1e-9) << row.what;
    }
    // A stop of the frame loop counts as one frame of a second, smoothed in.
    SeenPicture seen;
    for (const double clock : {0.0, 0.05, 5.05})
        seen.presented(clock);
    EXPECT_NEAR(seen.average, 0.05 + 0.25 * (1.0 - 0.05), 1e-9);
}

} // namespace
