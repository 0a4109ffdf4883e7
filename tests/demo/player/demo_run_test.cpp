// The real demo binary, driven as a user would drive it, each run on a screen of its own.
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace {

using namespace DemoTest;

const std::string demoBinary = DEMO_BINARY;
namespace fs = std::filesystem;

TEST(DemoRunTest, WithoutADisplayItEndsWithOneClearLine)
{
    DemoProcess demo(demoBinary, {"DISPLAY="});
    const Exit exit = demo.wait(30.0);
    ASSERT_TRUE(exit.exited);
    EXPECT_EQ(exit.status, 1);
    EXPECT_NE(exit.err.find("display"), std::string::npos) << exit.err;
    EXPECT_EQ(std::count(exit.err.begin(), exit.err.end(), '\n'), 1) << exit.err;
}

// Some remote and virtual X servers have no GLX: every mode says so in one line instead of
// crashing in the windowing library, and a still writes nothing.
TEST(DemoRunTest, WithoutGLXEveryModeEndsWithOneLine)
{
    XvfbServer screen(640, 360, {"-extension", "GLX"});
    ASSERT_FALSE(screen.display.empty());
    const Scratch scratch;
    const std::string still = scratch / "still.png";
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"--windowed", "--size", "320x180"}, {"--still", "10", still, "--size", "64x36"}}) {
        std::vector<std::string> command = {demoBinary};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const Exit exit = DemoProcess(demoBinary, {"DISPLAY=" + screen.display}, command).wait(30.0);
        ASSERT_TRUE(exit.exited) << "a signal ended the run with " << arguments.size() << " arguments";
        EXPECT_EQ(exit.status, 1);
        EXPECT_EQ(exit.err, "demo: this display offers no OpenGL (its X server has no GLX extension)\n");
    }
    EXPECT_FALSE(fs::exists(still));
}

TEST(DemoRunTest, AContextBelowGL33EndsNamingTheVersionObtained)
{
    XvfbServer screen(640, 480);
    ASSERT_FALSE(screen.display.empty());
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display, "MESA_GL_VERSION_OVERRIDE=3.0"});
    const Exit exit = demo.wait(30.0);
    ASSERT_TRUE(exit.exited);
    EXPECT_EQ(exit.status, 1);
    EXPECT_NE(exit.err.find("OpenGL 3.0"), std::string::npos) << exit.err;
}

// An X server without RandR offers no video modes to choose from: the show covers the screen
// with a plain window, and a size asked for is refused in our own single line.
TEST(DemoRunTest, WithoutRandRTheShowCoversTheScreenAndOtherSizesAreRefusedInOneLine)
{
    XvfbServer screen(1024, 768, {"-extension", "RANDR"});
    ASSERT_FALSE(screen.display.empty());
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display}, {demoBinary, "--start", "82"});
    ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
    const WindowSize size = windowSize(screen.display, "OpenGL");
    EXPECT_EQ(size.width, 1024);
    EXPECT_EQ(size.height, 768);
    const Exit shown = demo.wait(60.0);
    ASSERT_TRUE(shown.exited);
    EXPECT_EQ(shown.status, 0) << shown.err;

    const Exit refused =
        DemoProcess(demoBinary, {"DISPLAY=" + screen.display}, {demoBinary, "--size", "800x600"}).wait(60.0);
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_EQ(refused.err, "demo: the display has no full-screen mode of 800x600; it offers 1024x768\n");
}

// The lines of a run's standard error, less the windowing library's note that this display
// cannot set vertical sync (Xvfb's GLX cannot).
std::vector<std::string> errorLines(const std::string& err)
{
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        if (line != "Setting vertical sync not supported")
            lines.push_back(line);
    return lines;
}

// A window larger than this OpenGL draws would stay black and silent: it is refused in one
// line, as --still refuses such a picture (Mesa's llvmpipe draws at most 16384 a side).
TEST(DemoRunTest, AWindowLargerThanOpenGLDrawsIsRefusedInOneLine)
{
    XvfbServer screen(1024, 768);
    ASSERT_FALSE(screen.display.empty());
    const Exit exit =
        DemoProcess(demoBinary, {"DISPLAY=" + screen.display}, {demoBinary, "--windowed", "--size", "16385x180"}).wait(60.0);
    ASSERT_TRUE(exit.exited) << "the window stayed open";
    EXPECT_EQ(exit.status, 1);
    EXPECT_EQ(errorLines(exit.err),
              std::vector<std::string>{"demo: a window of 16385x180 is larger than this OpenGL can render (at most 16384x16384)"})
        << exit.err;
}

// The display's server ending under the show (killed at several moments, from start-up to the
// running show, windowed and full screen) ends it with status 1 and one line, every time: a
// supervisor tells it from a show that ran to its end.
TEST(DemoRunTest, TheDisplayLostUnderTheShowEndsItWithStatus1AndOneLine)
{
    PrivateAudioServer server;
    ASSERT_TRUE(server.ready) << "could not start pulseaudio";
    const struct {
        std::vector<std::string> arguments;
        const char* window;
        double after; // seconds after the window appeared
    } cases[] = {
        {{"--windowed", "--size", "320x180"}, "demo", 0.0},  {{"--windowed", "--size", "320x180"}, "demo", 0.3},
        {{"--windowed", "--size", "320x180"}, "demo", 1.0},  {{"--start", "10"}, "OpenGL", 0.0},
        {{"--start", "10"}, "OpenGL", 0.5},                 {{"--start", "10"}, "OpenGL", 1.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.window) + " killed " + std::to_string(c.after) + " s after it appeared");
        auto screen = std::make_unique<XvfbServer>(640, 360);
        ASSERT_FALSE(screen->display.empty());
        std::vector<std::string> command = {demoBinary};
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        DemoProcess demo(demoBinary, {"DISPLAY=" + screen->display, "PULSE_SERVER=" + server.address}, command);
        ASSERT_TRUE(waitForWindow(screen->display, c.window, 60.0));
        std::this_thread::sleep_for(std::chrono::duration<double>(c.after));
        screen.reset();
        const Exit exit = demo.wait(30.0);
        ASSERT_TRUE(exit.exited) << "the show went on without its display";
        EXPECT_EQ(exit.status, 1) << exit.err;
        const std::vector<std::string> lines = errorLines(exit.err);
        ASSERT_EQ(lines.size(), 1u) << exit.err;
        EXPECT_EQ(lines[0].rfind("demo: lost the connection to the display :", 0), 0u) << exit.err;
    }
}

// Starts the demo on a screen of its own, lets it run a moment, acts on the screen as a user
// would, and expects the demo to end cleanly.
template <typename Act>
void expectUserEndsTheShow(Act act, const char* what)
{
    XvfbServer screen(640, 360);
    ASSERT_FALSE(screen.display.empty());
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display});
    ASSERT_TRUE(waitForPicture(screen.display, 120.0)) << "no picture was drawn";
    ASSERT_TRUE(act(screen.display, true));
    const Exit exit = demo.wait(30.0);
    act(screen.display, false);
    ASSERT_TRUE(exit.exited) << what << " did not end the demo";
    EXPECT_EQ(exit.status, 0) << exit.err;
}

TEST(DemoRunTest, HoldingEscapeEndsTheShow)
{
    expectUserEndsTheShow([](const std::string& display, bool press) { return setKey(display, "Escape", press); },
                          "Escape");
}

TEST(DemoRunTest, ACloseRequestEndsTheShow)
{
    expectUserEndsTheShow(
        [](const std::string& display, bool request) { return !request || requestClose(display, "OpenGL"); },
        "the close request");
}

// Escape held in another application, briefly and long, does not end the full-screen show,
// whose window acts on its own keys only; Escape in its window then does.
TEST(DemoRunTest, EscapeHeldInAnotherApplicationLeavesTheFullScreenShowGoing)
{
    XvfbServer screen(640, 360);
    ASSERT_FALSE(screen.display.empty());
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display, "PULSE_SERVER=unix:/nonexistent/demo-socket"},
                     {demoBinary, "--start", "40"});
    ASSERT_TRUE(waitForPicture(screen.display, 120.0)) << "no picture was drawn";
    {
        const OtherWindow other(screen.display, "another application");
        ASSERT_TRUE(other.shown);
        for (const int held : {400, 400, 400, 2000}) {
            setKey(screen.display, "Escape", true);
            std::this_thread::sleep_for(std::chrono::milliseconds(held));
            setKey(screen.display, "Escape", false);
            // Still drawing after the release: the picture changes twice more (once could be
            // the window going), and the window is there.
            Image last = grabScreen(screen.display);
            int changes = 0;
            waitForScreen(screen.display, [&](const Image& shot) {
                if (differingPixels(shot, last) > 0)
                    ++changes, last = shot;
                return changes >= 2;
            }, 30.0);
            EXPECT_GE(changes, 2) << "Escape held " << held << " ms in another application ended the show";
            ASSERT_GT(windowSize(screen.display, "OpenGL").width, 0) << "held " << held << " ms";
        }
    }
    ASSERT_TRUE(focusWindow(screen.display, "OpenGL"));
    setKey(screen.display, "Escape", true);
    setKey(screen.display, "Escape", false);
    const Exit exit = demo.wait(30.0);
    ASSERT_TRUE(exit.exited) << "Escape in the show's own window did not end it";
    EXPECT_EQ(exit.status, 0) << exit.err;
}

// Signals end the show like Escape, with the status a shell expects (128 + the signal), whether
// they come during start-up, before the first frame, or while frames are drawn.
TEST(DemoRunTest, SignalsEndTheShowWithTheirShellStatus)
{
    for (const auto& [signal, drawing, status] : {std::tuple{SIGHUP, false, 129}, std::tuple{SIGINT, true, 130}}) {
        XvfbServer screen(640, 360);
        ASSERT_FALSE(screen.display.empty());
        DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display});
        ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
        if (drawing) {
            ASSERT_TRUE(waitForPicture(screen.display, 120.0)) << "no picture was drawn";
        }
        demo.signal(signal);
        const Exit exit = demo.wait(30.0);
        ASSERT_TRUE(exit.exited);
        EXPECT_EQ(exit.status, status) << exit.err;
    }
}

// The audio server dies mid-show: the picture goes on and the show still ends by itself, on
// time, with status 0.
TEST(DemoRunTest, TheShowEndsOnTimeWhenTheAudioServerDies)
{
    PrivateAudioServer server;
    ASSERT_TRUE(server.ready) << "could not start pulseaudio";
    const std::string pulse = "PULSE_SERVER=" + server.address;

    XvfbServer screen(640, 360);
    ASSERT_FALSE(screen.display.empty());
    // 6.4 s before the end; the server killed 2 s after the first picture, however long
    // start-up took.
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display, pulse}, {demoBinary, "--start", "80"});
    ASSERT_TRUE(waitForPicture(screen.display, 120.0)) << "no picture was drawn";
    std::this_thread::sleep_for(std::chrono::seconds(2));
    server.signal(SIGKILL);
    const double killed = now();
    const Exit exit = demo.wait(30.0);
    ASSERT_TRUE(exit.exited) << "the show did not end after its audio server died";
    EXPECT_EQ(exit.status, 0) << exit.err;
    EXPECT_LT(now() - killed, 4.4 + 3.0) << "the show ended late";
}

// The windowed show's keys, title, screenshots and --loop, on a screen larger than the window.

constexpr int screenWidth = 1024, screenHeight = 768;
constexpr int windowWidth = 640, windowHeight = 360;
const std::string windowSizeText = "640x360";

void press(const std::string& display, const char* key)
{
    setKey(display, key, true);
    setKey(display, key, false);
}

void pressShifted(const std::string& display, const char* key)
{
    setKey(display, "Shift_L", true);
    press(display, key);
    setKey(display, "Shift_L", false);
}

// The show time's digits in the title "demo — 48.00 s (paused)"; empty before the first frame.
std::string titleDigits(const std::string& title)
{
    const std::string dash = "\u2014 ";
    const size_t at = title.find(dash);
    if (at == std::string::npos)
        return {};
    const size_t begin = at + dash.size();
    return title.substr(begin, title.find(' ', begin) - begin);
}

double titleTime(const std::string& title)
{
    const std::string digits = titleDigits(title);
    return digits.empty() ? -1.0 : std::atof(digits.c_str());
}

// Polls the window's title until `wanted` holds for it; returns the last title seen.
template <typename Wanted>
std::string waitForTitle(const std::string& display, Wanted wanted, double seconds = 20.0)
{
    std::string title;
    for (const double end = now() + seconds; now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(50)))
        if (wanted(title = windowTitle(display, "demo")))
            break;
    return title;
}

Image still(const std::string& display, const std::string& time, const std::string& path,
            const std::string& size = windowSizeText)
{
    DemoProcess demo(demoBinary, {"DISPLAY=" + display}, {demoBinary, "--still", time, path, "--size", size});
    const Exit exit = demo.wait(120.0);
    EXPECT_EQ(exit.status, 0) << exit.err;
    return readImage(path);
}

// The window's part of a screenshot: its picture, which fills it.
Image windowPicture(const std::string& display, const std::string& path, int width = windowWidth)
{
    const Image screen = screenshot(display, path);
    const WindowSize window = windowSize(display, "demo");
    Image picture;
    if (window.width != width || window.x < 0 || window.y < 0 || window.x + window.width > screen.width ||
        window.y + window.height > screen.height)
        return picture;
    picture.width = window.width;
    picture.height = window.height;
    for (int y = 0; y < window.height; ++y) {
        const unsigned char* row = screen.at(window.x, window.y + y);
        picture.rgb.insert(picture.rgb.end(), row, row + 3 * window.width);
    }
    return picture;
}

// Waits until the window's picture is `expected` (a held picture is shown once the frame that
// holds it is presented, however slow the frames); the last picture seen.
Image waitForWindowPicture(const std::string& display, const Image& expected, const std::string& path,
                           int width = windowWidth)
{
    Image shown;
    for (const double end = now() + 60.0; now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(100)))
        if (differingPixels(shown = windowPicture(display, path, width), expected) == 0)
            break;
    return shown;
}

// The title once it has stayed the same for `seconds` (keys still queued have been handled).
std::string waitForSteadyTitle(const std::string& display, double seconds)
{
    std::string title = windowTitle(display, "demo");
    for (double since = now(), end = now() + 60.0; now() < end && now() - since < seconds;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string now_ = windowTitle(display, "demo");
        if (now_ != title)
            title = now_, since = now();
    }
    return title;
}

// A window of another shape than the picture's: its keys are its own (Escape pressed while
// another application has the focus leaves it alone), and its held picture, bars included, is
// the still of the title's time at the window's size.
TEST(DemoRunTest, AWindowActsOnItsOwnKeysAndItsHeldPictureIsTheStillOfItsSize)
{
    XvfbServer screen(screenWidth, screenHeight);
    ASSERT_FALSE(screen.display.empty());
    Scratch folder;
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display}, {demoBinary, "--windowed", "--size", "400x300", "--start", "43"});
    ASSERT_TRUE(waitForWindow(screen.display, "demo", 60.0));
    const double before =
        titleTime(waitForTitle(screen.display, [](const std::string& t) { return titleTime(t) >= 0.0; }, 60.0));
    ASSERT_GE(before, 43.0);
    {
        const OtherWindow other(screen.display, "another application");
        ASSERT_TRUE(other.shown);
        setKey(screen.display, "Escape", true);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        setKey(screen.display, "Escape", false);
    }
    // The show goes on: its title keeps counting.
    const std::string going =
        waitForTitle(screen.display, [&](const std::string& t) { return titleTime(t) > before + 1.0; }, 60.0);
    ASSERT_GT(titleTime(going), before + 1.0) << "Escape in another window ended the show";

    focusWindow(screen.display, "demo");
    press(screen.display, "space");
    const std::string held = waitForTitle(screen.display, [](const std::string& t) { return t.find("(paused)") != std::string::npos; });
    ASSERT_NE(held.find("(paused)"), std::string::npos) << held;
    const Image expected = still(screen.display, titleDigits(held), folder / "still.png", "400x300");
    const Image shown = waitForWindowPicture(screen.display, expected, folder / "held.png", 400);
    ASSERT_EQ(shown.width, 400) << "the window lies off the screen";
    EXPECT_EQ(differingPixels(shown, expected), 0) << "the held window at " << held << " against its still";

    press(screen.display, "Escape");
    const Exit exit = demo.wait(30.0);
    ASSERT_TRUE(exit.exited);
    EXPECT_EQ(exit.status, 0) << exit.err;
}

// What the private null sink plays, recorded from its monitor by parec while this lives.
class SinkRecording {
public:
    SinkRecording(const PrivateAudioServer& server, std::string file)
        : path(std::move(file))
        , recorder({"env", "PULSE_SERVER=" + server.address, "parec", "--device=@DEFAULT_MONITOR@",
                    "--latency-msec=20", "--format=float32le", "--rate=44100", "--channels=2", "--raw", path})
    {
        // The monitor streams silence from the start, so a growing file means parec is recording.
        for (int i = 0; i < 200 && mark() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    // Frames recorded so far: where in the recording the present moment lies.
    size_t mark() const
    {
        std::error_code error;
        const auto bytes = fs::file_size(path, error);
        return error ? 0 : static_cast<size_t>(bytes / 8);
    }

    // Stops recording; the left and right channels mixed.
    std::vector<float> finish()
    {
        recorder.signal(SIGTERM);
        recorder.wait(10.0);
        std::vector<float> mono;
        std::ifstream in(path, std::ios::binary);
        float frame[2];
        while (in.read(reinterpret_cast<char*>(frame), sizeof frame))
            mono.push_back((frame[0] + frame[1]) / 2.0f);
        std::remove(path.c_str());
        return mono;
    }

private:
    std::string path;
    DemoProcess recorder;
};

constexpr size_t rate = 44100;

double rms(const std::vector<float>& samples, size_t begin, size_t end)
{
    end = std::min(end, samples.size());
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i)
        sum += double(samples[i]) * samples[i];
    return end > begin ? std::sqrt(sum / double(end - begin)) : 0.0;
}

// Space holds the picture and silences the music; keys held down repeat; a seek while paused
// shows exactly the still of the time the title gives, and F12 writes that picture; Space
// again brings the music back.
TEST(DemoRunTest, PausingHoldsPictureAndMusicAndTheHeldFrameIsTheStillOfTheTitlesTime)
{
    PrivateAudioServer server;
    ASSERT_TRUE(server.ready) << "could not start pulseaudio";
    Scratch folder;
    XvfbServer screen(screenWidth, screenHeight);
    ASSERT_FALSE(screen.display.empty());
    SinkRecording sink(server, folder / "sink.raw");
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display, "PULSE_SERVER=" + server.address},
                     {demoBinary, "--windowed", "--size", windowSizeText, "--start", "60", "--screenshots",
                      folder.path.string()});
    ASSERT_TRUE(waitForWindow(screen.display, "demo", 60.0));
    focusWindow(screen.display, "demo");
    // A second and a half of the show, and so of its music, however long start-up took.
    waitForTitle(screen.display, [](const std::string& t) { return titleTime(t) >= 61.5; }, 120.0);

    const size_t playing = sink.mark();
    ASSERT_GE(playing, rate) << "the recording began late";
    press(screen.display, "space");
    const std::string held = waitForTitle(screen.display, [](const std::string& t) {
        return t.find("(paused)") != std::string::npos;
    });
    ASSERT_NE(held.find("(paused)"), std::string::npos) << held;
    const size_t paused = sink.mark();
    // The held picture, once shown, stays for a second.
    const Image first = waitForWindowPicture(screen.display, still(screen.display, titleDigits(held), folder / "held.png"),
                                             folder / "paused-1.png");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const Image second = windowPicture(screen.display, folder / "paused-2.png");
    ASSERT_EQ(first.width, windowWidth) << "the window lies off the screen";
    EXPECT_EQ(differingPixels(first, second), 0) << "the picture moved while paused";
    EXPECT_EQ(windowTitle(screen.display, "demo"), held);

    // Shift+Left held down: the keyboard repeats it, a second back each time.
    setKey(screen.display, "Shift_L", true);
    setKey(screen.display, "Left", true);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    setKey(screen.display, "Left", false);
    setKey(screen.display, "Shift_L", false);
    const double heldTime = titleTime(held);
    std::string title = waitForTitle(screen.display, [&](const std::string& t) {
        return titleTime(t) >= 0.0 && titleTime(t) <= heldTime - 3.0;
    });
    const double repeated = titleTime(title = waitForSteadyTitle(screen.display, 1.0));
    EXPECT_LE(repeated, heldTime - 3.0) << title << " after " << held;

    // Right: exactly 5 s on, still paused; the picture is the still of the title's time.
    press(screen.display, "Right");
    title = waitForTitle(screen.display, [&](const std::string& t) { return titleTime(t) > repeated + 4.0; });
    EXPECT_NEAR(titleTime(title), repeated + 5.0, 1e-9) << title;
    EXPECT_NE(title.find("(paused)"), std::string::npos) << title;
    const std::string digits = titleDigits(title);
    const Image expected = still(screen.display, digits, folder / "still.png");
    const Image shown = waitForWindowPicture(screen.display, expected, folder / "seeked.png");
    ASSERT_EQ(expected.width, windowWidth);
    EXPECT_EQ(differingPixels(shown, expected), 0) << "the window at " << digits << " s against --still " << digits;

    // F12 writes the same picture, named by the time in milliseconds.
    const std::string name = "demo-" + std::to_string(std::llround(std::atof(digits.c_str()) * 1000.0)) + ".png";
    press(screen.display, "F12");
    for (const double end = now() + 20.0; now() < end && !fs::exists(folder / name);)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(differingPixels(readImage(folder / name), expected), 0) << name;

    const size_t pressed = sink.mark();
    press(screen.display, "space");
    EXPECT_EQ(titleDigits(waitForTitle(screen.display, [](const std::string& t) {
                  return !t.empty() && t.find("(paused)") == std::string::npos;
              })).empty(),
              false);
    const size_t resumed = sink.mark();
    for (const double end = now() + 60.0; now() < end && sink.mark() < resumed + 2 * rate;)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<float> heard = sink.finish();
    press(screen.display, "Escape");
    const Exit exit = demo.wait(30.0);
    EXPECT_EQ(exit.status, 0) << exit.err;
    EXPECT_NE(exit.err.find(name), std::string::npos) << exit.err;

    // Loud before the pause, silent while paused (after the sound already on its way), loud
    // again once the resumed show is seen (the music keeps to the picture within a few
    // hundredths of a second).
    ASSERT_GE(heard.size(), resumed + 2 * rate);
    EXPECT_GT(rms(heard, playing - rate, playing), 0.02);
    EXPECT_LT(rms(heard, paused + rate / 4, pressed), 0.001);
    EXPECT_GT(rms(heard, resumed + rate / 4, resumed + 5 * rate / 4), 0.02);
}

// Without an audio server every key still works; a screenshot that cannot be written says so
// in one line and the show goes on.
TEST(DemoRunTest, WithoutSoundEveryKeyWorksAndAFailedScreenshotKeepsTheShowGoing)
{
    XvfbServer screen(screenWidth, screenHeight);
    ASSERT_FALSE(screen.display.empty());
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display, "PULSE_SERVER=unix:/nonexistent/demo-socket"},
                     {demoBinary, "--windowed", "--size", windowSizeText, "--start", "10", "--screenshots",
                      "/nonexistent/shots"});
    ASSERT_TRUE(waitForWindow(screen.display, "demo", 60.0));
    focusWindow(screen.display, "demo");
    press(screen.display, "space");
    std::string title = waitForTitle(screen.display, [](const std::string& t) {
        return t.find("(paused)") != std::string::npos;
    });
    ASSERT_NE(title.find("(paused)"), std::string::npos) << title;

    // Each key from a held time, and what the title then says.
    const struct {
        const char* key;
        bool shifted;
        const char* shown;
    } steps[] = {
        {"Prior", false, "14.40"}, // Page Up: the next shot's start
        {"Left", true, "13.40"},   // Shift+Left: a second back
        {"Next", false, "9.60"},   // Page Down: the start of this shot
        {"Next", false, "4.80"},   // again, at a start: the one before
        {"Right", false, "9.80"},
        {"Home", false, "0.00"},
    };
    for (const auto& step : steps) {
        step.shifted ? pressShifted(screen.display, step.key) : press(screen.display, step.key);
        title = waitForTitle(screen.display, [&](const std::string& t) { return titleDigits(t) == step.shown; }, 10.0);
        EXPECT_EQ(titleDigits(title), step.shown) << step.key;
    }

    press(screen.display, "F12");
    for (const double end = now() + 30.0; now() < end && demo.errorSoFar().find("demo-0.png") == std::string::npos;)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    press(screen.display, "space");
    title = waitForTitle(screen.display, [](const std::string& t) { return titleTime(t) > 0.5; });
    EXPECT_EQ(title.find("(paused)"), std::string::npos) << title;
    EXPECT_GT(titleTime(title), 0.5) << "the show goes on after the failed screenshot";
    press(screen.display, "Escape");
    const Exit exit = demo.wait(30.0);
    EXPECT_EQ(exit.status, 0) << exit.err;
    EXPECT_NE(exit.err.find("demo-0.png"), std::string::npos) << exit.err;
    // Besides the screenshot's line, only the driver's word on vertical sync and the one line
    // saying that there is no sound output.
    EXPECT_NE(exit.err.find("demo: no sound output"), std::string::npos) << exit.err;
    EXPECT_EQ(std::count(exit.err.begin(), exit.err.end(), '\n') -
                  (exit.err.find("vertical sync") != std::string::npos ? 1 : 0),
              2)
        << exit.err;
}

// --loop: after the end the show starts again, with the sky of the first shot and the
// music's first seconds, which are quieter than any other part of the track.
TEST(DemoRunTest, LoopingStartsTheShowAgainWithItsMusic)
{
    PrivateAudioServer server;
    ASSERT_TRUE(server.ready) << "could not start pulseaudio";
    Scratch folder;
    SinkRecording sink(server, folder / "sink.raw");
    XvfbServer screen(screenWidth, screenHeight);
    ASSERT_FALSE(screen.display.empty());
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display, "PULSE_SERVER=" + server.address},
                     {demoBinary, "--windowed", "--size", windowSizeText, "--loop", "--start", "85"});
    ASSERT_TRUE(waitForWindow(screen.display, "demo", 60.0));
    const size_t started = sink.mark();

    std::string title = waitForTitle(screen.display, [](const std::string& t) {
        return titleTime(t) >= 0.0 && titleTime(t) < 3.0;
    });
    ASSERT_LT(titleTime(title), 3.0) << title;
    const Image shown = windowPicture(screen.display, folder / "looped.png");
    const double after = titleTime(windowTitle(screen.display, "demo"));
    char time[16];
    std::snprintf(time, sizeof time, "%.2f", (titleTime(title) + after) / 2.0);
    const Image first = still(screen.display, time, folder / "first.png");
    const Image end = still(screen.display, "85.5", folder / "end.png");
    const double toFirst = blurredDifference(shown, first, 16), toEnd = blurredDifference(shown, end, 16);
    EXPECT_LT(toFirst, 8.0) << "the first shot at about " << time << " s";
    EXPECT_LT(toFirst * 3.0, toEnd);

    // Three seconds of the show again, and so of its music.
    waitForTitle(screen.display, [](const std::string& t) { return titleTime(t) >= 3.5 && titleTime(t) < 80.0; }, 60.0);
    const std::vector<float> heard = sink.finish();
    press(screen.display, "Escape");
    const Exit exit = demo.wait(30.0);
    EXPECT_EQ(exit.status, 0) << exit.err;

    // The end of the track is near silence; the loop's start is the first sound after it.
    constexpr size_t window = rate / 20;
    size_t onset = started;
    while (onset + window < heard.size() && rms(heard, onset, onset + window) < 0.005)
        onset += window;
    ASSERT_LT(onset + 2 * rate, heard.size()) << "no music after the end";
    const std::string soundtrack = (fs::path(demoBinary).parent_path() / "valdrim.mp3").string();
    const std::string raw = commandOutput("ffmpeg -v error -i " + soundtrack + " -t 3 -ac 1 -ar 44100 -f f32le -");
    std::vector<float> track(raw.size() / sizeof(float));
    std::memcpy(track.data(), raw.data(), track.size() * sizeof(float));
    size_t trackOnset = 0;
    while (trackOnset + window < track.size() && rms(track, trackOnset, trackOnset + window) < 0.005)
        trackOnset += window;
    const double level = rms(heard, onset, onset + 2 * rate), expectedLevel = rms(track, trackOnset, trackOnset + 2 * rate);
    EXPECT_NEAR(level / expectedLevel, 1.0, 0.35) << level << " against the first seconds' " << expectedLevel;
}

} // namespace
