// The Windows executable, built by scripts/windows.sh, run under Wine on the test's X and sound
// servers: its window, picture, sound and endings through Wine's window, GL and sound drivers.
#include "support/demo_process.h"
#include "support/track_match.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace DemoTest;
using TestSupport::matchTrack;
using TestSupport::TrackMatch;

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
        // Wine starts its own service processes (services, the desktop, device and RPC hosts)
        // beside the first program, and they write to that program's stderr. On a busy machine
        // one of them now and then prints a page fault while it starts, which a test reading the
        // demo's messages would take for the demo's. So a server kept up until TearDown is
        // started first (one that a crashed test left behind goes before it), and a program that
        // does nothing brings the services up on this test's screen with their output discarded;
        // the demo then joins them and starts none of its own.
        ASSERT_EQ(std::system(("wineserver -k >/dev/null 2>&1; wineserver -p && DISPLAY=" + screen.display +
                               " wine cmd /c exit >/dev/null 2>&1")
                                  .c_str()),
                  0);
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

TEST_F(WineTest, ItDrawsTheShowLetterboxedPlaysTheSoundtrackAndEndsOnEscape)
{
    const std::string recording = shotDir + "/wine-sound.raw";
    std::remove(recording.c_str());
    DemoProcess recorder(recording, {}, {"parec", "--device=@DEFAULT_MONITOR@", "--latency-msec=50",
                                         "--format=s16le", "--rate=44100", "--channels=2", "--raw", recording});

    DemoProcess demo = wine({});
    ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
    // Until the picture is drawn and five seconds of sound were heard, however slowly Wine
    // starts on a loaded machine.
    const auto pictureLevel = [](const Image& image) {
        double level = 0.0;
        for (int y = barHeight; y < screenHeight - barHeight; ++y)
            for (int x = 0; x < screenWidth && image.width == screenWidth; ++x) {
                const unsigned char* p = image.at(x, y);
                level += (p[0] + p[1] + p[2]) / 3.0;
            }
        return level / (screenWidth * (screenHeight - 2 * barHeight));
    };
    waitForScreen(screen.display, [&](const Image& image) { return pictureLevel(image) > 15.0; }, 120.0);
    for (const double end = now() + 120.0; now() < end && TestSupport::soundSeconds(recording) < 5.0;)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
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

    // The sink heard the soundtrack: with Wine's dropouts taken out, what it heard is the track's
    // waveform.
    recorder.wait(0.0);
    const TrackMatch match = matchTrack(recording, demoExe.substr(0, demoExe.rfind('/')) + "/valdrim.mp3");
    ASSERT_GE(match.heardSeconds, 3.0) << "less than 3 s of sound was recorded";
    std::printf("heard %.1f s of sound and %.1f s of dropouts: %zu of %zu pieces of 50 ms are the track's\n",
                match.heardSeconds, match.droppedSeconds, match.matched, match.pieces);
    // A piece holding a lost stretch matches only in part; any other sound, the track at another
    // time or pitch, or noise matches none. On a busy machine Wine has lost up to a third.
    EXPECT_GE(match.matched * 3, match.pieces) << "the sink did not hear the soundtrack";
}

TEST_F(WineTest, ACloseRequestEndsTheShow)
{
    DemoProcess demo = wine({});
    ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
    ASSERT_TRUE(waitForPicture(screen.display, 120.0)) << "no picture was drawn";
    ASSERT_TRUE(requestClose(screen.display, "OpenGL"));
    const Exit exit = demo.wait(30.0);
    ASSERT_TRUE(exit.exited) << "the close request did not end the demo";
    EXPECT_EQ(exit.status, 0) << exit.err;
}

// The display kept on while the show plays and handed back at its end: Windows is asked for it
// through the thread's execution state, which Wine's ntdll reports on its warning channel.
TEST_F(WineTest, TheDisplayIsKeptOnWhileTheShowPlays)
{
    DemoProcess demo = wine({"--windowed", "--size", "320x180", "--start", "84"}, {"WINEDEBUG=warn+ntdll"});
    const Exit exit = demo.wait(60.0);
    ASSERT_TRUE(exit.exited) << "the show did not end by itself";
    EXPECT_EQ(exit.status, 0);
    const auto call = [&exit](const char* state) {
        const size_t at = exit.err.find(std::string("NtSetThreadExecutionState (") + state);
        return at == std::string::npos ? exit.err.size() : at;
    };
    // ES_CONTINUOUS | ES_DISPLAY_REQUIRED, then ES_CONTINUOUS alone.
    EXPECT_LT(call("0x80000002"), exit.err.size()) << exit.err;
    EXPECT_LT(call("0x80000002"), call("0x80000000")) << exit.err;
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
    const auto [differing, largest] = compareImages(linuxImage, windowsImage, 2);
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

// A program named ffmpeg.exe in the current folder is not the encoder: only PATH's folders are
// searched, and Wine's PATH has none.
TEST_F(WineTest, AnFfmpegInTheCurrentFolderIsNotRun)
{
    char name[] = "/tmp/demo-wine-cwd-XXXXXX";
    const std::string folder = mkdtemp(name);
    const std::string copy = folder + "/demo.exe";
    ASSERT_EQ(std::system(("cp " + demoExe + " " + copy + " && cp " + demoExe + " " + folder + "/ffmpeg.exe").c_str()),
              0);
    DemoProcess demo(copy, {"DISPLAY=" + screen.display},
                     {"wine", copy, "--capture", "out.mp4", "--size", "160x90", "--to", "0.5"});
    const Exit exit = demo.wait(60.0);
    EXPECT_EQ(exit.status, 1);
    EXPECT_NE(exit.err.find("needs the ffmpeg program"), std::string::npos) << exit.err;
    std::system(("rm -rf " + folder).c_str());
}

} // namespace
