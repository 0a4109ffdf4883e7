// The Windows executable, built by scripts/windows.sh, run under Wine on the test's X and sound
// servers: its window, picture, sound and endings through Wine's window, GL and sound drivers.
#include "demo_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace DemoTest;

const std::string demoExe = DEMO_EXE;
const std::string wineRoot = WINE_ROOT;
const std::string shotDir = SHOT_DIR;

// A 5:4 screen: the 640x360 picture between two black bars of 76 rows.
constexpr int screenWidth = 640, screenHeight = 512, barHeight = 76;

class WineTest : public testing::Test {
protected:
    // Wine with a prefix, home and runtime folder of its own under the Windows build folder,
    // made on first use (about 12 s) and kept between runs. Every child inherits these.
    static void SetUpTestSuite()
    {
        const std::string prefix = wineRoot + "/prefix";
        for (const std::string& dir : {wineRoot, wineRoot + "/home", wineRoot + "/run"})
            mkdir(dir.c_str(), 0700);
        setenv("WINEPREFIX", prefix.c_str(), 1);
        setenv("HOME", (wineRoot + "/home").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (wineRoot + "/run").c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        const std::string make = "flock " + wineRoot + "/prefix.lock sh -c '[ -f " + prefix +
                                 "/system.reg ] || { env -u DISPLAY wine wineboot -i && wineserver -w; }' "
                                 ">/dev/null 2>&1";
        prefixReady = std::system(make.c_str()) == 0;
    }

    void SetUp() override
    {
        ASSERT_EQ(access(demoExe.c_str(), R_OK), 0) << demoExe << " is missing: build it with scripts/windows.sh";
        ASSERT_TRUE(prefixReady) << "could not make the Wine prefix";
        ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr) << "run through scripts/services.sh";
        ASSERT_FALSE(screen.display.empty());
    }

    // The prefix's server and every Windows process still in it (the desktop process, a demo
    // that failed to end) belong to this test alone.
    void TearDown() override { std::system("wineserver -k >/dev/null 2>&1"); }

    DemoProcess wine(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {})
    {
        std::vector<std::string> launcher = {"wine", demoExe};
        launcher.insert(launcher.end(), arguments.begin(), arguments.end());
        std::vector<std::string> env = {"DISPLAY=" + screen.display};
        env.insert(env.end(), environment.begin(), environment.end());
        return DemoProcess(demoExe, env, launcher);
    }

    static bool prefixReady;
    XvfbServer screen{screenWidth, screenHeight};
};

bool WineTest::prefixReady = false;

// Stereo 16-bit samples mixed down to mono in [-1, 1].
std::vector<float> readMono(const std::string& rawPath)
{
    std::ifstream in(rawPath, std::ios::binary);
    std::vector<float> mono;
    short frame[2];
    while (in.read(reinterpret_cast<char*>(frame), sizeof frame))
        mono.push_back((frame[0] + frame[1]) / 65536.0f);
    return mono;
}

constexpr size_t rate = 44100;

// The first sample of the first 20 ms louder than -50 dBFS (RMS).
size_t onset(const std::vector<float>& pcm)
{
    const size_t block = rate / 50;
    for (size_t start = 0; start + block <= pcm.size(); start += block) {
        double energy = 0.0;
        for (size_t i = start; i < start + block; ++i)
            energy += double(pcm[i]) * pcm[i];
        if (energy / block > 1e-5)
            return start;
    }
    return pcm.size();
}

// Power from 40 to 1000 Hz in 1 Hz steps (Goertzel), where the track's drone and melody lie.
std::vector<double> spectrum(const float* pcm, size_t n)
{
    std::vector<double> power;
    for (double frequency = 40.0; frequency <= 1000.0; frequency += 1.0) {
        const double k = 2.0 * std::cos(2.0 * M_PI * frequency / rate);
        double s1 = 0.0, s2 = 0.0;
        for (size_t i = 0; i < n; ++i) {
            const double s = pcm[i] + k * s1 - s2;
            s2 = s1, s1 = s;
        }
        power.push_back(s1 * s1 + s2 * s2 - k * s1 * s2);
    }
    return power;
}

TEST_F(WineTest, ItDrawsTheShowLetterboxedPlaysTheSoundtrackAndEndsOnEscape)
{
    const std::string recording = shotDir + "/wine-sound.raw";
    std::remove(recording.c_str());
    DemoProcess recorder(recording, {}, {"parec", "--device=@DEFAULT_MONITOR@", "--latency-msec=50",
                                         "--format=s16le", "--rate=44100", "--channels=2", "--raw", recording});

    DemoProcess demo = wine({});
    ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
    std::this_thread::sleep_for(std::chrono::seconds(6));
    const Image shot = screenshot(screen.display, shotDir + "/wine-show.png");
    // Without a window manager nothing gives Wine's window the keyboard.
    ASSERT_TRUE(focusWindow(screen.display, "OpenGL"));
    ASSERT_TRUE(setKey(screen.display, "Escape", true));
    const Exit exit = demo.wait(30.0);
    setKey(screen.display, "Escape", false);
    ASSERT_TRUE(exit.exited) << "Escape did not end the demo";
    EXPECT_EQ(exit.status, 0) << exit.err;

    ASSERT_EQ(shot.width, screenWidth);
    double picture = 0.0;
    int litBarPixels = 0;
    for (int y = 0; y < screenHeight; ++y)
        for (int x = 0; x < screenWidth; ++x) {
            const unsigned char* p = shot.at(x, y);
            if (y < barHeight || y >= screenHeight - barHeight)
                litBarPixels += p[0] || p[1] || p[2];
            else
                picture += (p[0] + p[1] + p[2]) / 3.0;
        }
    EXPECT_EQ(litBarPixels, 0) << "the bars are black";
    EXPECT_GT(picture / (screenWidth * (screenHeight - 2 * barHeight)), 15.0) << "the picture is (nearly) black";

    // The sink heard the soundtrack: from the first sound on, the recording's spectrum (the
    // track's low drone and what plays over it) is that of the track from its first sound on.
    // Not the waveform: with llvmpipe taking both cores, Wine's audio thread drops out now and
    // then, which leaves gaps but not other frequencies.
    recorder.wait(0.0);
    const std::string track = shotDir + "/wine-track.raw";
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -i " + demoExe.substr(0, demoExe.rfind('/')) +
                           "/valdrim.mp3 -t 10 -f s16le -ac 2 -ar 44100 " + track).c_str()),
              0);
    const std::vector<float> heard = readMono(recording), played = readMono(track);
    const size_t span = 3 * rate;
    const size_t heardOnset = onset(heard), playedOnset = onset(played);
    ASSERT_GE(heard.size(), heardOnset + span) << "less than 3 s of sound was recorded";
    const std::vector<double> heardPower = spectrum(&heard[heardOnset], span);
    const std::vector<double> playedPower = spectrum(&played[playedOnset], span);
    double dot = 0, hh = 0, pp = 0;
    size_t heardPeak = 0, playedPeak = 0;
    for (size_t i = 0; i < heardPower.size(); ++i) {
        dot += heardPower[i] * playedPower[i], hh += heardPower[i] * heardPower[i], pp += playedPower[i] * playedPower[i];
        heardPeak = heardPower[i] > heardPower[heardPeak] ? i : heardPeak;
        playedPeak = playedPower[i] > playedPower[playedPeak] ? i : playedPeak;
    }
    const double similarity = dot / std::sqrt(hh * pp);
    std::printf("spectra of 3 s from the first sound: similarity %.3f, strongest %zu Hz heard, %zu Hz in the track\n",
                similarity, heardPeak + 40, playedPeak + 40);
    EXPECT_GT(similarity, 0.8) << "the sink did not hear the soundtrack";
    EXPECT_NEAR(double(heardPeak), double(playedPeak), 1.0) << "the sink did not hear the soundtrack's drone";
}

TEST_F(WineTest, ACloseRequestEndsTheShow)
{
    DemoProcess demo = wine({});
    ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_TRUE(requestClose(screen.display, "OpenGL"));
    const Exit exit = demo.wait(30.0);
    ASSERT_TRUE(exit.exited) << "the close request did not end the demo";
    EXPECT_EQ(exit.status, 0) << exit.err;
}

TEST_F(WineTest, AContextBelowGL33EndsWithOneLineAndStatus1)
{
    // Wine's GL driver hands Mesa's version on to the Windows side.
    DemoProcess demo = wine({}, {"MESA_GL_VERSION_OVERRIDE=3.0"});
    const Exit exit = demo.wait(60.0);
    ASSERT_TRUE(exit.exited);
    EXPECT_EQ(exit.status, 1);
    EXPECT_NE(exit.err.find("OpenGL 3.0"), std::string::npos) << exit.err;
    EXPECT_EQ(std::count(exit.err.begin(), exit.err.end(), '\n'), 1) << exit.err;
}

} // namespace
