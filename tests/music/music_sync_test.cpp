// The rule that keeps the music on the picture (music_sync.h), without a device: each row is one
// callback's view of the music and the picture, and what the audio thread does about it.
#include "music/music_sync.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double rate = 44100.0;

std::int64_t frameAt(double seconds)
{
    return static_cast<std::int64_t>(std::floor(seconds * rate));
}

TEST(MusicSyncTest, TheMusicIsMovedToThePictureOnlyBeyondWhatCanBeTold)
{
    const double picture = 40.0;
    const std::int64_t queued = 1102; // 25 ms in the output
    const double heardNext = picture + queued / rate; // the picture's time when the next frame is heard
    const std::int64_t inStep = frameAt(heardNext);
    const std::int64_t leave = -1;
    struct Row {
        const char* what;
        MusicPosition music;
        double picture;
        std::int64_t queued;
        std::int64_t expected;
    };
    const Row rows[] = {
        {"in step", {true, inStep}, picture, queued, leave},
        {"a drift within the lead tolerance is left", {true, frameAt(heardNext + MusicSync::leadTolerance * 0.9)}, picture,
         queued, leave},
        {"beyond it, back to the picture", {true, frameAt(heardNext + MusicSync::leadTolerance * 1.1)}, picture, queued,
         inStep},
        {"a drift within the lag tolerance is left", {true, frameAt(heardNext - MusicSync::lagTolerance * 0.9)}, picture,
         queued, leave},
        {"beyond it, on to the picture", {true, frameAt(heardNext - MusicSync::lagTolerance * 1.1)}, picture, queued, inStep},
        {"after a stall of 3 s, with nothing held, on to the picture itself", {true, frameAt(picture - 3.0)}, picture,
         0, frameAt(picture)},
        {"a key 5 s back", {true, frameAt(heardNext + 5.0)}, picture, queued, inStep},
        {"resuming starts exactly on the picture", {true, inStep + 40, false, true}, picture, queued, inStep},
        {"the first picture after waiting for it", {true, frameAt(12.5), false, true}, 12.5, 0, frameAt(12.5)},
        {"the track over, the picture beyond it: silence", {true, frameAt(80.0), true}, 85.0, queued, leave},
        {"the track over, the loop back at the start", {true, frameAt(86.0), true}, 0.0, queued, frameAt(queued / rate)},
        {"past the end after a seek there: stays silent", {false, frameAt(90.0)}, 91.0, queued, leave},
        {"past the end, a jump back into the track", {false, frameAt(90.0)}, 30.0, queued, frameAt(30.0 + queued / rate)},
        {"an output said to hold less than nothing holds nothing", {true, frameAt(20.0)}, 25.0, -500, frameAt(25.0)},
    };
    // Each seen by as many callbacks in a row as it takes to be acted on.
    const auto decide = [](const Row& row) {
        MusicSync sync;
        std::int64_t target = -1;
        for (int callback = 0; callback < MusicSync::patience && target == -1; ++callback)
            target = sync.seekFor(row.music, row.picture, row.queued, rate);
        return target;
    };
    for (const Row& row : rows)
        EXPECT_EQ(decide(row), row.expected) << row.what;
}

// Small differences wait for as many callbacks in a row on the same side; swings of the
// measure from one callback to the next never move the music, and the doubtless are made up at
// once.
TEST(MusicSyncTest, ADifferenceIsActedOnWhenItLastsOrIsBeyondDoubt)
{
    const auto at = [](double seconds) { return MusicPosition{true, frameAt(seconds)}; };
    const double lead = MusicSync::leadTolerance * 1.5, lag = MusicSync::lagTolerance * 1.5;
    struct Row {
        const char* what;
        std::vector<double> aheads; // the music ahead of the picture, callback by callback
        int seekAt;                 // the callback that seeks (-1: none)
    };
    const Row rows[] = {
        {"ahead, three callbacks in a row", {lead, lead, lead}, 2},
        {"behind, three callbacks in a row", {-lag, -lag, -lag}, 2},
        {"swinging ahead and back", {lead, 0.0, lead, lead, 0.0, lead}, -1},
        {"swinging from one side to the other", {lead, -lag, lead, -lag, lead, -lag}, -1},
        {"a stall's 3 s, at once", {-3.0}, 0},
        {"a quarter second behind, at once", {-MusicSync::beyondDoubt}, 0},
    };
    for (const Row& row : rows) {
        MusicSync sync;
        int seeked = -1;
        for (size_t n = 0; n < row.aheads.size() && seeked < 0; ++n)
            if (sync.seekFor(at(40.0 + row.aheads[n]), 40.0, 0, rate) >= 0)
                seeked = static_cast<int>(n);
        EXPECT_EQ(seeked, row.seekAt) << row.what;
    }
}

// The tolerances sit inside ITU-R BT.1359's window (sound at most 45 ms early, 125 ms late)
// with room for the measure's swing of half a period (12.5 ms), and on the late side for an
// output that holds a period (25 ms) more than reckoned.
TEST(MusicSyncTest, TheTolerancesLeaveRoomInsideTheDetectabilityWindow)
{
    EXPECT_LE(MusicSync::leadTolerance + 0.0125, 0.045);
    EXPECT_LE(MusicSync::lagTolerance + 0.0125 + 0.025, 0.125);
    EXPECT_LT(MusicSync::lagTolerance, MusicSync::beyondDoubt);
}

} // namespace
