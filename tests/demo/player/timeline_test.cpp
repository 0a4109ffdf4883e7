// The live show's clock as keys move it, without a window: each row drives a timeline through
// a few steps at given clock readings and says what the frame after them shows.
#include "player/timeline.h"

#include <gtest/gtest.h>

#include <cstdio>
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

} // namespace
