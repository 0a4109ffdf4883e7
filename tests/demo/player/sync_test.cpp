// The music against the picture, as a real PulseAudio null sink heard it: the real Music plays a
// track of clicks while a loop runs the player's timeline as the live show runs it, telling the
// music after each frame where the picture is (Music::follow); the sink's monitor, recorded by
// parec, says when each click was heard.
#include "music/music.h"
#include "player/show_clock.h"
#include "player/timeline.h"
#include "support/click_track.h"
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>

namespace {

using DemoTest::now;
using namespace TestSupport;

// A private PulseAudio server that this process's own clients reach while it lives.
class AudioServer : public DemoTest::PrivateAudioServer {
public:
    AudioServer() { setenv("PULSE_SERVER", address.c_str(), 1); }
    ~AudioServer() { unsetenv("PULSE_SERVER"); }
};

struct Frame {
    double wall;
    double t;
    bool running;
};

// The picture's time at `wall`, between the two frames around it; negative outside the frames
// or where the picture did not run at one second a second between them (paused, or jumped).
double pictureAt(const std::vector<Frame>& frames, double wall)
{
    const auto after =
        std::lower_bound(frames.begin(), frames.end(), wall, [](const Frame& f, double w) { return f.wall < w; });
    if (after == frames.begin() || after == frames.end())
        return -1.0;
    const Frame& before = *(after - 1);
    if (!before.running || std::fabs((after->t - before.t) - (after->wall - before.wall)) > 0.002)
        return -1.0;
    return before.t + (wall - before.wall);
}

// The live show's loop without a window: the picture's time is the timeline's on the wall clock,
// and the music is told of each frame. The sink is recorded throughout.
class Show {
public:
    Show(const std::string& mp3, double start, SinkRecorder& sink)
        : music(mp3.c_str(), static_cast<float>(start), true)
        , timeline(start, 0.0, false)
        , origin(now())
        , recorder(sink)
    {
    }

    double clock() const { return now() - origin; }

    // Frames every 5 ms or so, for `seconds`.
    void runFor(double seconds)
    {
        for (const double until = clock() + seconds; clock() < until;) {
            const double at = clock();
            const float t = static_cast<float>(timeline.now(at));
            frames.push_back({origin + at, static_cast<double>(t), !timeline.paused()});
            keepTheMusicOnThePicture(&music, timeline, t);
            recorder.poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // From 0.5 s after now until the next mark (or the end), clicks count.
    void measureFromHere()
    {
        if (!stretches.empty() && stretches.back().second < 0.0)
            stretches.back().second = now();
        stretches.push_back({now() + 0.5, -1.0});
    }
    void stopMeasuring()
    {
        if (!stretches.empty() && stretches.back().second < 0.0)
            stretches.back().second = now();
    }

    Music music;
    Timeline timeline;
    std::vector<Frame> frames;
    std::vector<std::pair<double, double>> stretches;

private:
    double origin;
    SinkRecorder& recorder;
};

// Heard less seen of every click in the show's measured stretches, with a line that says how
// they fell.
std::vector<double> measure(Show& show, const std::vector<double>& clickWalls, const std::vector<double>& clicks,
                            const char* what)
{
    show.stopMeasuring();
    std::vector<double> offsets;
    for (const auto& [from, to] : show.stretches) {
        const std::vector<double> some = heardLessSeen(
            clickWalls, clicks, [&](double wall) { return pictureAt(show.frames, wall); }, from, to);
        offsets.insert(offsets.end(), some.begin(), some.end());
        if (std::getenv("SYNC_VERBOSE"))
            for (double o : some)
                std::printf("  stretch from %.2f: %+.1f ms\n", from - show.frames.front().wall, o * 1000.0);
    }
    std::sort(offsets.begin(), offsets.end());
    if (!offsets.empty())
        std::printf("%s: %zu clicks, heard less seen: median %+.1f ms, from %+.1f to %+.1f ms; %ld resyncs\n", what,
                    offsets.size(), offsets[offsets.size() / 2] * 1000.0, offsets.front() * 1000.0,
                    offsets.back() * 1000.0, show.music.resyncs());
    return offsets;
}

void expectWithinTheWindow(const std::vector<double>& offsets, size_t atLeast)
{
    ASSERT_GE(offsets.size(), atLeast) << "too few clicks were heard";
    EXPECT_GE(offsets.front(), -mostSoundLag) << "a click was heard too late";
    EXPECT_LE(offsets.back(), mostSoundLead) << "a click was heard too early";
    EXPECT_NEAR(offsets[offsets.size() / 2], 0.0, 0.020);
}

class SyncTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.ready) << "could not start pulseaudio";
        mp3 = makeClickTrack(scratch.path.string());
        ASSERT_FALSE(mp3.empty());
        clicks = clickPositions(mp3);
        ASSERT_GT(clicks.size(), 150u);
        sink = std::make_unique<SinkRecorder>(server.address, scratch / "sink.raw");
        ASSERT_TRUE(sink->recording()) << "parec records nothing";
    }

    AudioServer server;
    DemoTest::Scratch scratch;
    std::string mp3;
    std::vector<double> clicks;
    std::unique_ptr<SinkRecorder> sink;
};

// From the start, after a backward seek of 60 s and after each of five pauses, every click heard
// from half a second on lies within the window of the picture, and their median within 20 ms;
// and while nothing moves the picture, the music is left alone.
TEST_F(SyncTest, TheMusicHeardKeepsToThePictureFromTheStartThroughASeekAndPauses)
{
    std::vector<double> offsets;
    long resyncsWhileSteady = 0;
    {
        Show show(mp3, 66.0, *sink);
        show.measureFromHere();
        show.runFor(2.0);
        show.timeline.seekBy(show.clock(), -60.0);
        show.measureFromHere();
        show.runFor(1.0);
        const long before = show.music.resyncs();
        show.runFor(2.0);
        resyncsWhileSteady = show.music.resyncs() - before;
        for (int pause = 0; pause < 5; ++pause) {
            show.timeline.pause(show.clock());
            show.stopMeasuring();
            show.runFor(0.3 + 0.07 * pause);
            show.timeline.resume(show.clock());
            show.measureFromHere();
            show.runFor(1.5);
        }
        offsets = measure(show, sink->finish(), clicks, "start, seek, pauses");
    }
    // Two clicks a second: 1.5 s from the start, 2.5 s after the seek, 1 s after each resume.
    expectWithinTheWindow(offsets, 12);
    EXPECT_LE(resyncsWhileSteady, 2) << "the music was moved again and again while the picture ran on";
}

// The output stalls for 3 s (the sink suspended, or the sound server stopped and continued):
// the picture runs on, and from half a second after the output takes samples again every click
// heard lies within the window of the picture.
TEST_F(SyncTest, AfterAStallOfTheOutputTheMusicRejoinsThePicture)
{
    struct Stall {
        const char* what;
        std::function<void(DemoTest::PrivateAudioServer&, bool stalled)> act;
    };
    const Stall stalls[] = {
        {"sink suspended",
         [](DemoTest::PrivateAudioServer& server, bool stalled) {
             const std::string command = "env PULSE_SERVER=" + server.address + " pactl suspend-sink private_null " +
                                         (stalled ? "1" : "0");
             ASSERT_EQ(std::system(command.c_str()), 0) << command;
         }},
        {"server stopped", [](DemoTest::PrivateAudioServer& server, bool stalled) {
             server.signal(stalled ? SIGSTOP : SIGCONT);
         }},
    };
    std::vector<double> offsets;
    {
        Show show(mp3, 10.0, *sink);
        show.runFor(1.5);
        for (const Stall& stall : stalls) {
            SCOPED_TRACE(stall.what);
            stall.act(server, true);
            show.stopMeasuring();
            show.runFor(3.0);
            stall.act(server, false);
            show.measureFromHere();
            show.runFor(2.5);
        }
        offsets = measure(show, sink->finish(), clicks, "after stalls");
    }
    // Two clicks a second for 2 s after each stall (a click that falls where the output ran dry,
    // on a loaded machine, is not heard).
    expectWithinTheWindow(offsets, 4);
}

} // namespace
