// The Windows executable, built by scripts/windows.sh, run under Wine on the test's X and sound
// servers: its window, picture, sound and endings through Wine's window, GL and sound drivers.
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <algorithm>
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
const std::string linuxBinary = DEMO_BINARY;
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

// Where the sound begins and ends: the first and past the last 20 ms louder than -50 dBFS.
std::pair<size_t, size_t> soundSpan(const std::vector<float>& pcm)
{
    const size_t block = rate / 50;
    size_t first = pcm.size(), end = 0;
    for (size_t start = 0; start + block <= pcm.size(); start += block) {
        double energy = 0.0;
        for (size_t i = start; i < start + block; ++i)
            energy += double(pcm[i]) * pcm[i];
        if (energy / block > 1e-5)
            first = std::min(first, start), end = start + block;
    }
    return {first, end};
}

// Power from 40 to 1000 Hz in 1 Hz steps, where the track's drone and melody lie, of each
// consecutive 1 s Hann-windowed segment (Goertzel), so a bin is as wide as its step.
std::vector<std::vector<double>> secondSpectra(const float* pcm, size_t n)
{
    std::vector<double> window(rate);
    for (size_t i = 0; i < rate; ++i)
        window[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / rate);
    std::vector<std::vector<double>> seconds;
    for (size_t start = 0; start + rate <= n; start += rate) {
        std::vector<double>& power = seconds.emplace_back(961, 0.0);
        for (size_t bin = 0; bin < power.size(); ++bin) {
            const double k = 2.0 * std::cos(2.0 * M_PI * (40.0 + bin) / rate);
            double s1 = 0.0, s2 = 0.0;
            for (size_t i = 0; i < rate; ++i) {
                const double s = pcm[start + i] * window[i] + k * s1 - s2;
                s2 = s1, s1 = s;
            }
            power[bin] = s1 * s1 + s2 * s2 - k * s1 * s2;
        }
    }
    return seconds;
}

// The spectrum of `count` seconds from second `first`.
std::vector<double> sumOf(const std::vector<std::vector<double>>& seconds, size_t first, size_t count)
{
    std::vector<double> power(961, 0.0);
    for (size_t s = first; s < first + count && s < seconds.size(); ++s)
        for (size_t bin = 0; bin < power.size(); ++bin)
            power[bin] += seconds[s][bin];
    return power;
}

double similarity(const std::vector<double>& a, const std::vector<double>& b)
{
    double dot = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size(); ++i)
        dot += a[i] * b[i], aa += a[i] * a[i], bb += b[i] * b[i];
    return dot / std::sqrt(aa * bb);
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

    // The sink heard the soundtrack: the spectrum of all it heard is that of the track over as
    // long from the track's first sound (its drone and the tones over it). Not the waveform:
    // with llvmpipe taking both cores, Wine's audio thread misses deadlines, which leaves gaps
    // and delays the rest.
    recorder.wait(0.0);
    const std::string track = shotDir + "/wine-track.raw";
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -i " + demoExe.substr(0, demoExe.rfind('/')) +
                           "/valdrim.mp3 -t 20 -f s16le -ac 2 -ar 44100 " + track).c_str()),
              0);
    const std::vector<float> heard = readMono(recording), played = readMono(track);
    const auto [heardFrom, heardTo] = soundSpan(heard);
    const size_t playedFrom = soundSpan(played).first, length = std::min<size_t>(heardTo - heardFrom, 15 * rate);
    ASSERT_GE(heardTo, heardFrom + 3 * rate) << "less than 3 s of sound was recorded";
    // Where the first sound is heard depends on the level, which Wine's mixer changes: take the
    // best match among the track's first seconds.
    const std::vector<double> heardPower = sumOf(secondSpectra(&heard[heardFrom], length), 0, length / rate);
    const std::vector<std::vector<double>> playedSeconds = secondSpectra(&played[playedFrom], played.size() - playedFrom);
    double best = 0.0;
    size_t bestOffset = 0;
    for (size_t offset = 0; offset <= 4 && offset + length / rate <= playedSeconds.size(); ++offset) {
        const double match = similarity(heardPower, sumOf(playedSeconds, offset, length / rate));
        if (match > best)
            best = match, bestOffset = offset;
    }
    // Wine's audio thread misses deadlines while llvmpipe holds both cores: count the silent
    // 10 ms blocks inside what was heard.
    size_t blocks = 0, silent = 0;
    for (size_t start = heardFrom; start + rate / 100 <= heardTo; start += rate / 100, ++blocks) {
        double energy = 0.0;
        for (size_t i = start; i < start + rate / 100; ++i)
            energy += double(heard[i]) * heard[i];
        silent += energy / (rate / 100) < 1e-7;
    }
    const double gaps = blocks > 0 ? double(silent) / blocks : 1.0;
    std::printf("spectra of %.1f s from the first sound: similarity %.3f, %zu s into the track; %.0f %% of it silent\n",
                double(length) / rate, best, bestOffset, 100.0 * gaps);
    // With few gaps the spectrum is the track's (the rest of the track scores about 0.6, noise
    // 0.1). Once a tenth or more of it is lost the spectrum is reshaped past recognition; the
    // sound reached the sink all the same, which the length checked above shows.
    if (gaps < 0.1) {
        EXPECT_GT(best, 0.85) << "the sink did not hear the soundtrack";
    }
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

TEST_F(WineTest, StartedNearTheEndItEndsByItself)
{
    DemoProcess demo = wine({"--start", "84"});
    ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
    const double shown = now();
    const Exit exit = demo.wait(30.0);
    ASSERT_TRUE(exit.exited) << "the show did not end by itself";
    EXPECT_EQ(exit.status, 0) << exit.err;
    // The clock starts after the window appears: the last 2.4 s of the show all ran.
    EXPECT_GT(now() - shown, 2.3);
}

// The same Mesa renders for both binaries, through Wine's GL driver or directly: the same
// frame, up to a few pixels of rounding.
TEST_F(WineTest, AStillIsTheLinuxBinarysStill)
{
    const std::string windowsStill = shotDir + "/wine-still.png", linuxStill = shotDir + "/linux-still.png";
    std::remove(windowsStill.c_str());
    std::remove(linuxStill.c_str());
    const std::vector<std::string> still = {"--still", "52.8", "", "--size", "640x512"};
    std::vector<std::string> arguments = still;
    arguments[2] = windowsStill;
    const Exit windowsRun = wine(arguments).wait(120.0);
    ASSERT_EQ(windowsRun.status, 0) << windowsRun.err;
    arguments.insert(arguments.begin(), linuxBinary);
    arguments[3] = linuxStill;
    const Exit linuxRun = DemoProcess(linuxBinary, {"DISPLAY=" + screen.display}, arguments).wait(120.0);
    ASSERT_EQ(linuxRun.status, 0) << linuxRun.err;

    const Image windowsImage = readImage(windowsStill), linuxImage = readImage(linuxStill);
    ASSERT_EQ(windowsImage.width, 640);
    ASSERT_EQ(windowsImage.height, 512);
    ASSERT_EQ(linuxImage.rgb.size(), windowsImage.rgb.size());
    int differing = 0, largest = 0;
    for (size_t i = 0; i < linuxImage.rgb.size(); i += 3) {
        int worst = 0;
        for (size_t c = i; c < i + 3; ++c)
            worst = std::max(worst, std::abs(int(linuxImage.rgb[c]) - int(windowsImage.rgb[c])));
        differing += worst > 2;
        largest = std::max(largest, worst);
    }
    std::printf("stills at 52.8 s, 640x512: %d pixels differ by more than 2/255, largest difference %d/255\n",
                differing, largest);
    EXPECT_LE(differing, 10);
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
