// The live show's clock as keys move it, without a window: each row drives a timeline through
// a few steps at given clock readings and says what the frame after them shows.
#include "player/show_clock.h"
#include "player/timeline.h"

#include <SFML/System/Time.hpp>

#include <gtest/gtest.h>

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

// The show time kept on the music heard, 60 frames a second, each row a heard position as a
// function of the free clock: the show time never goes back between frames (but after an
// anchor), and ends where the music is heard.
TEST(TimelineTest, TheShowTimeFollowsTheMusicHeardWithoutGoingBack)
{
    struct Row {
        const char* what;
        double (*heard)(double clock); // negative: nothing heard
        double end;                    // the show time expected at clock 5 s, within 1 ms
    };
    const Row rows[] = {
        {"no soundtrack: the free clock exactly", [](double) { return -1.0; }, 15.0},
        {"held at the start until heard, then with it",
         [](double c) { return c < 0.05 ? 10.0 : 10.0 + (c - 0.05); }, 14.95},
        {"heard 10 ms ahead from 1 s: slewed forward", [](double c) { return c < 1.0 ? 10.0 + c : 10.01 + c; }, 15.01},
        {"heard 10 ms behind from 1 s: slewed back", [](double c) { return c < 1.0 ? 10.0 + c : 9.99 + c; }, 14.99},
        {"an audio stall of 0.3 s: the picture waits",
         [](double c) { return c < 1.0 ? 10.0 + c : c < 1.3 ? 11.0 : 10.0 + c - 0.3; }, 14.7},
        {"the music jumps 0.5 s ahead: so does the picture",
         [](double c) { return c < 1.0 ? 10.0 + c : 10.5 + c; }, 15.5},
        {"past the end of the track: the free clock from there",
         [](double c) { return c < 1.0 ? 10.02 + c : -1.0; }, 15.02},
    };
    for (const Row& row : rows) {
        Timeline timeline(10.0, 0.0, false);
        SoundFollower follower;
        double previous = -1.0;
        for (int n = 0; n <= 300; ++n) {
            const double clock = n / 60.0;
            const double heard = row.heard(clock);
            const double shown = timeline.now(clock);
            timeline.seekBy(clock, follower.correction(clock, shown, heard < 0.0 ? std::nullopt : std::optional<double>(heard)));
            const double t = timeline.now(clock);
            if (n > 0 && previous > t)
                ADD_FAILURE() << row.what << ": back from " << previous << " to " << t << " at frame " << n;
            previous = t;
        }
        EXPECT_NEAR(previous, row.end, 0.001) << row.what;
    }

    // After a seek: held at the target until the music is heard moving from it.
    Timeline timeline(40.0, 0.0, false);
    SoundFollower follower;
    for (int n = 0; n < 60; ++n)
        timeline.seekBy(n / 60.0, follower.correction(n / 60.0, timeline.now(n / 60.0), 40.0 + n / 60.0));
    timeline.seekTo(1.0, 5.0);
    follower.anchor();
    const double heardFrom = 1.1; // the old sound drains until then
    for (int n = 60; n <= 120; ++n) {
        const double clock = n / 60.0;
        const double heard = clock < heardFrom ? 5.0 : 5.0 + (clock - heardFrom);
        timeline.seekBy(clock, follower.correction(clock, timeline.now(clock), heard));
        EXPECT_NEAR(timeline.now(clock), heard, 1e-9) << clock;
    }
}

} // namespace
