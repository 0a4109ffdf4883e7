// The show clock against what a real PulseAudio null sink heard: the real Music plays a track
// of clicks while the player's timeline and its follower run as the live show runs them, and the
// sink's monitor, recorded by parec, says when each click was heard.
#include "music/music.h"
#include "music/music_decoder.h"
#include "player/show_clock.h"
#include "player/timeline.h"
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr double rate = 44100.0;
constexpr double clickInterval = 0.25;

long fileBytes(const std::string& path)
{
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? static_cast<long>(status.st_size) : 0;
}

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// 72 s of silence with a click (4 ms at 1500 Hz) every quarter second, as MP3.
std::string makeClickTrack(const DemoTest::Scratch& scratch)
{
    const std::string wav = scratch / "clicks.wav", mp3 = scratch / "clicks.mp3";
    const int frames = static_cast<int>(72 * rate);
    std::vector<short> pcm(static_cast<size_t>(frames) * 2, 0);
    for (int i = 0; i < frames; ++i) {
        const int into = i % static_cast<int>(clickInterval * rate);
        if (into < 176)
            pcm[2 * i] = pcm[2 * i + 1] = static_cast<short>(20000.0 * std::sin(2.0 * M_PI * 1500.0 * into / rate));
    }
    std::ofstream out(wav, std::ios::binary);
    const auto put32 = [&out](unsigned value) { out.write(reinterpret_cast<const char*>(&value), 4); };
    const auto put16 = [&out](unsigned short value) { out.write(reinterpret_cast<const char*>(&value), 2); };
    const unsigned bytes = static_cast<unsigned>(pcm.size() * 2);
    out.write("RIFF", 4), put32(36 + bytes), out.write("WAVEfmt ", 8), put32(16), put16(1), put16(2);
    put32(44100), put32(44100 * 4), put16(4), put16(16), out.write("data", 4), put32(bytes);
    out.write(reinterpret_cast<const char*>(pcm.data()), bytes);
    out.close();
    if (std::system(("lame --quiet -b 192 " + wav + " " + mp3).c_str()) != 0)
        return {};
    return mp3;
}

// Where the clicks lie in the track as the player's own decoder delivers it (after the
// encoder's delay): the first loud sample of each, in seconds.
std::vector<double> clickPositions(const std::string& mp3)
{
    std::vector<double> clicks;
    ma_decoder decoder;
    if (openMusicFile(mp3.c_str(), decoder) != MA_SUCCESS)
        return clicks;
    std::vector<float> frames(4096 * 2);
    long long at = 0, last = -1000000;
    for (;;) {
        ma_uint64 read = 0;
        ma_decoder_read_pcm_frames(&decoder, frames.data(), 4096, &read);
        for (ma_uint64 i = 0; i < read; ++i, ++at)
            if (std::fabs(frames[2 * i]) > 0.3f && at - last > 4410)
                clicks.push_back(double(at) / rate), last = at;
        if (read < 4096)
            break;
    }
    ma_decoder_uninit(&decoder);
    return clicks;
}

struct Sample {
    double wall;
    double t;
};

// The show time at `wall`, between the two frames around it; negative outside the log or across
// a frame where the show was held or jumped.
double showTimeAt(const std::vector<Sample>& frames, double wall)
{
    const auto after = std::lower_bound(frames.begin(), frames.end(), wall,
                                        [](const Sample& s, double w) { return s.wall < w; });
    if (after == frames.begin() || after == frames.end())
        return -1.0;
    const Sample& before = *(after - 1);
    const double rateOfShow = (after->t - before.t) / (after->wall - before.wall);
    if (std::fabs(rateOfShow - 1.0) > 0.2)
        return -1.0;
    return before.t + (wall - before.wall) * rateOfShow;
}

// A private PulseAudio server that this process's own clients reach while it lives.
class AudioServer : public DemoTest::PrivateAudioServer {
public:
    AudioServer() { setenv("PULSE_SERVER", address.c_str(), 1); }
    ~AudioServer() { unsetenv("PULSE_SERVER"); }
};

// After a backward seek of 60 s, and after each of five pauses, the clicks heard at the sink
// are heard within 20 ms of the show time at that moment, taken as their median. Single clicks
// may be later: on a loaded machine the output runs dry now and then, and what is heard after
// that is late by as much until the next seek or resume, which the player cannot see (up to a
// tenth of a second with two cores fully busy). The show runs its frames as fast as
// the machine lets it; the sink's recording is placed on the same clock by the earliest moment
// each of its blocks was seen, so the test's own delays only make the measure more cautious.
TEST(SyncTest, TheMusicHeardKeepsToTheShowTimeThroughASeekAndPauses)
{
    AudioServer server;
    ASSERT_TRUE(server.ready) << "could not start pulseaudio";
    DemoTest::Scratch scratch;
    const std::string mp3 = makeClickTrack(scratch);
    ASSERT_FALSE(mp3.empty());
    const std::vector<double> clicks = clickPositions(mp3);
    ASSERT_GT(clicks.size(), 200u);

    const std::string raw = scratch / "sink.raw";
    DemoTest::DemoProcess recorder({"parec", "--device=@DEFAULT_MONITOR@", "--latency-msec=5",
                                    "--format=s16le", "--rate=44100", "--channels=2", "--raw", raw});
    std::vector<Sample> recorded; // (wall, frames in the file)
    const auto pollRecording = [&] {
        const double bytes = double(fileBytes(raw));
        if (recorded.empty() || bytes > recorded.back().t)
            recorded.push_back({wallSeconds(), bytes});
    };
    for (int i = 0; i < 200 && fileBytes(raw) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GT(fileBytes(raw), 0) << "parec records nothing";

    // The live show's loop, with a soundtrack starting at 66 s.
    std::vector<Sample> frames;
    struct Stretch {
        double from;
        double to;
    };
    std::vector<Stretch> measured; // wall times whose clicks count: after each seek and resume
    {
        Music music(mp3.c_str(), 66.0f);
        ASSERT_TRUE(music.isPlaying());
        const double start = wallSeconds();
        const auto clock = [start] { return wallSeconds() - start; };
        Timeline timeline(66.0, 0.0, false);
        SoundFollower follower;
        const auto runFor = [&](double seconds) {
            const double until = clock() + seconds;
            while (clock() < until) {
                const double now = clock();
                const double shown = timeline.now(now);
                if (!timeline.paused()) {
                    const double correction = follower.correction(now, shown, music.heardSeconds());
                    timeline.seekBy(now, correction);
                }
                frames.push_back({wallSeconds(), timeline.now(now)});
                pollRecording();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        };
        runFor(1.0);
        timeline.seekBy(clock(), -60.0);
        music.seek(static_cast<float>(timeline.now(clock())));
        follower.anchor();
        measured.push_back({wallSeconds() + 0.3, wallSeconds() + 2.0});
        runFor(2.0);
        for (int pause = 0; pause < 5; ++pause) {
            timeline.pause(clock());
            music.pause();
            runFor(0.3 + 0.07 * pause);
            timeline.resume(clock());
            music.seek(static_cast<float>(timeline.now(clock())));
            music.resume();
            follower.anchor();
            measured.push_back({wallSeconds() + 0.3, wallSeconds() + 1.0});
            runFor(1.0);
        }
        for (int i = 0; i < 20; ++i) {
            pollRecording();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    recorder.signal(SIGTERM);
    recorder.wait(10.0);

    // Sample n of the recording was at the sink no later than the first moment the file was seen
    // to hold it: the earliest such bound over all polls places the recording on the wall clock.
    double firstSample = 1e300;
    for (const Sample& poll : recorded)
        firstSample = std::min(firstSample, poll.wall - poll.t / 4.0 / rate);

    std::vector<short> pcm(static_cast<size_t>(fileBytes(raw) / 2));
    std::ifstream(raw, std::ios::binary).read(reinterpret_cast<char*>(pcm.data()), static_cast<long>(pcm.size() * 2));
    std::vector<double> offsets; // show time less the click's time, for each click heard
    for (size_t n = 0, last = 0; 2 * n + 1 < pcm.size(); ++n) {
        if (std::abs(pcm[2 * n]) < 8000 || (last != 0 && n - last < 4410))
            continue;
        last = n;
        const double wall = firstSample + double(n) / rate;
        if (std::none_of(measured.begin(), measured.end(),
                         [wall](const Stretch& s) { return wall >= s.from && wall <= s.to; }))
            continue;
        const double t = showTimeAt(frames, wall);
        if (t < 0.0)
            continue;
        const double click = *std::min_element(clicks.begin(), clicks.end(), [t](double a, double b) {
            return std::fabs(a - t) < std::fabs(b - t);
        });
        offsets.push_back(t - click);
    }
    const int heard = static_cast<int>(offsets.size());
    ASSERT_GT(heard, 0);
    std::sort(offsets.begin(), offsets.end());
    const int close = static_cast<int>(
        std::count_if(offsets.begin(), offsets.end(), [](double offset) { return std::fabs(offset) <= 0.020; }));
    std::printf("clicks compared %d, median %+.1f ms, %d within 20 ms, from %+.1f to %+.1f ms\n", heard,
                offsets[offsets.size() / 2] * 1000.0, close, offsets.front() * 1000.0, offsets.back() * 1000.0);
    EXPECT_NEAR(offsets[offsets.size() / 2], 0.0, 0.020);
    // 1.7 s after the seek and 0.7 s after each resume, four clicks a second.
    EXPECT_GE(heard, 15);
}

} // namespace
