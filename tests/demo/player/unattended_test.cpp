// The show as an installation runs it, unattended, through the real binary on an X server and a
// sound server of the test's own: the display kept awake, the sound back after its server
// restarts or arrives late, and the full screen following the screen's size. (The display lost
// under the show is the run test's.)
#include "support/click_track.h"
#include "support/demo_process.h"
#include "support/session_bus.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace DemoTest;
namespace fs = std::filesystem;

const std::string demoBinary = DEMO_BINARY;

bool run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

// The X screen saver's state as the server keeps it (ScreenSaverOn while it shows).
class ScreenSaverState {
public:
    explicit ScreenSaverState(const std::string& display)
        : connection(XOpenDisplay(display.c_str()))
        , info(XScreenSaverAllocInfo())
    {
    }
    ~ScreenSaverState()
    {
        XFree(info);
        if (connection != nullptr)
            XCloseDisplay(connection);
    }
    ScreenSaverState(const ScreenSaverState&) = delete;
    ScreenSaverState& operator=(const ScreenSaverState&) = delete;

    bool on() const
    {
        return connection != nullptr &&
               XScreenSaverQueryInfo(connection, DefaultRootWindow(connection), info) != 0 &&
               info->state == ScreenSaverOn;
    }
    // The server's own settings (timeout, interval, blanking, exposures), as xset sets them.
    std::string settings() const
    {
        int timeout = 0, interval = 0, blanking = 0, exposures = 0;
        if (connection != nullptr)
            XGetScreenSaver(connection, &timeout, &interval, &blanking, &exposures);
        return std::to_string(timeout) + " " + std::to_string(interval) + " " + std::to_string(blanking) + " " +
               std::to_string(exposures);
    }

private:
    Display* connection;
    XScreenSaverInfo* info;
};

// The screen saver stays off through 10 s of the full-screen show and of a windowed loop, though
// set to come on after 3 s of idleness, and comes on again once the show has ended (killed
// included) or is paused.
TEST(UnattendedTest, TheScreenSaverStaysOffWhileTheShowPlaysAndComesOnAfter)
{
    XvfbServer screen(640, 360);
    ASSERT_FALSE(screen.display.empty());
    // The server keeps these settings only because it does not reset when its clients leave.
    ASSERT_TRUE(run("DISPLAY=" + screen.display + " xset s 3 3"));
    const ScreenSaverState saver(screen.display);
    ASSERT_TRUE(waitFor([&] { return saver.on(); }, 20.0)) << "the screen saver never came on by itself";
    const std::string settings = saver.settings();

    for (const bool windowed : {false, true}) {
        SCOPED_TRACE(windowed ? "windowed --loop, ended by SIGTERM" : "full screen, killed");
        std::vector<std::string> command = {demoBinary};
        if (windowed)
            command.insert(command.end(), {"--windowed", "--size", "320x180", "--loop", "--start", "80"});
        DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display, "PULSE_SERVER=unix:/nonexistent/demo-socket"},
                         command);
        const std::string title = windowed ? "demo" : "OpenGL";
        ASSERT_TRUE(waitForWindow(screen.display, title, 60.0));
        // Taken off at the start, and kept off from then on.
        ASSERT_TRUE(waitFor([&] { return !saver.on(); }, 10.0)) << "the show did not wake the display";
        const double until = now() + 10.0;
        int onAt = 0;
        for (int sample = 0; now() < until; ++sample) {
            if (saver.on() && onAt == 0)
                onAt = sample;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(onAt, 0) << "the screen saver came on " << onAt / 10.0 << " s into the show";

        if (windowed) {
            // Paused, the show lets the display sleep again.
            ASSERT_TRUE(focusWindow(screen.display, title));
            ASSERT_TRUE(setKey(screen.display, "space", true) && setKey(screen.display, "space", false));
            EXPECT_TRUE(waitFor([&] { return windowTitle(screen.display, title).find("(paused)") != std::string::npos; },
                                20.0));
            EXPECT_TRUE(waitFor([&] { return saver.on(); }, 20.0)) << "the paused show keeps the display awake";
        }
        // Ended as a supervisor ends it, or killed: either way the server itself undoes what the
        // show asked of it, and its settings are the user's still.
        const int signal = windowed ? SIGTERM : SIGKILL;
        demo.signal(signal);
        const Exit exit = demo.wait(30.0);
        if (signal == SIGTERM) {
            EXPECT_EQ(exit.status, 128 + SIGTERM) << exit.err;
        }
        EXPECT_TRUE(waitFor([&] { return saver.on(); }, 20.0)) << "the display stays awake after the show";
        EXPECT_EQ(saver.settings(), settings) << "the show changed the server's screen-saver settings";
    }
}

// Presses and releases `key` in the window named `title`, given the focus first.
bool pressIn(const std::string& display, const std::string& title, const char* key)
{
    return focusWindow(display, title) && setKey(display, key, true) && setKey(display, key, false);
}

// The windowed show on its own screen, its session bus the test's, from `start` on loop.
struct ShowOnABus {
    ShowOnABus(const PrivateSessionBus& bus, double start = 10.0)
        : screen(640, 360)
        , demo(demoBinary,
               {"DISPLAY=" + screen.display, "PULSE_SERVER=unix:/nonexistent/demo-socket",
                "DBUS_SESSION_BUS_ADDRESS=" + bus.address},
               {demoBinary, "--windowed", "--size", "320x180", "--loop", "--start", std::to_string(start)})
    {
    }
    // The window's title now (the window must be there).
    std::string titleNow()
    {
        if (!title)
            title = std::make_unique<TitleReader>(screen.display, "demo");
        return title->read();
    }
    // Waits until the title's show time passes `t`.
    bool reaches(double t, double seconds)
    {
        return waitFor([&] { return titleShowTime(titleNow()) > t; }, seconds);
    }
    bool paused() { return titleNow().find("(paused)") != std::string::npos; }

    XvfbServer screen;
    DemoProcess demo;
    std::unique_ptr<TitleReader> title;
};

// The desktop's screen saver (org.freedesktop.ScreenSaver on the session bus) inhibited while
// the show plays, handed back at a pause and at the end, and taken again on the next play;
// nothing left for the service to drop when the show has gone.
TEST(UnattendedTest, TheDesktopsScreenSaverIsInhibitedWhileThePlayLastsAndHandedBackAtAPauseAndTheEnd)
{
    Scratch scratch;
    const PrivateSessionBus bus(scratch.path);
    ASSERT_FALSE(bus.address.empty());
    FakeScreenSaver service(bus.address, scratch / "service.log");
    ASSERT_TRUE(service.ready);
    ShowOnABus show(bus);
    ASSERT_TRUE(waitForWindow(show.screen.display, "demo", 60.0));
    ASSERT_TRUE(service.waitFor("inhibit", 1, 30.0)) << "the show did not inhibit the screen saver";

    ASSERT_TRUE(pressIn(show.screen.display, "demo", "space"));
    ASSERT_TRUE(waitFor([&] { return show.paused(); }, 20.0));
    EXPECT_TRUE(service.waitFor("uninhibit", 1, 20.0)) << "paused, the show kept the screen saver inhibited";
    ASSERT_TRUE(pressIn(show.screen.display, "demo", "space"));
    EXPECT_TRUE(service.waitFor("inhibit", 2, 20.0)) << "played again, the show did not inhibit it again";

    show.demo.signal(SIGTERM);
    const Exit exit = show.demo.wait(30.0);
    EXPECT_EQ(exit.status, 128 + SIGTERM) << exit.err;
    EXPECT_TRUE(service.waitFor("uninhibit", 2, 20.0)) << "the show ended without handing its cookie back";
    EXPECT_TRUE(waitFor([&] { return service.settled(); }, 20.0));
    EXPECT_EQ(service.finish(), 0);
    EXPECT_EQ(service.count("gone"), 0u) << "a cookie was left for the service to drop";
}

// A screen-saver service that starts after the show (a unit started with the session) is
// inhibited as soon as it is there.
TEST(UnattendedTest, AScreenSaverServiceThatComesAfterTheShowIsInhibited)
{
    Scratch scratch;
    const PrivateSessionBus bus(scratch.path);
    ASSERT_FALSE(bus.address.empty());
    ShowOnABus show(bus);
    ASSERT_TRUE(waitForWindow(show.screen.display, "demo", 60.0));
    ASSERT_TRUE(show.reaches(11.0, 60.0));
    FakeScreenSaver service(bus.address, scratch / "service.log");
    ASSERT_TRUE(service.ready);
    EXPECT_TRUE(service.waitFor("inhibit", 1, 20.0)) << "the service that came late was never asked";
    show.demo.signal(SIGTERM);
    EXPECT_EQ(show.demo.wait(30.0).status, 128 + SIGTERM);
    EXPECT_TRUE(waitFor([&] { return service.settled(); }, 20.0)) << "the inhibit outlived the show";
    EXPECT_EQ(service.finish(), 0);
}

// A session bus that answers nothing (stopped) holds no frame: not the first, with the bus
// frozen before the show starts, nor later, frozen while the inhibit is held, through a pause,
// a play and the end.
TEST(UnattendedTest, AFrozenSessionBusHoldsNoFrame)
{
    Scratch scratch;
    const PrivateSessionBus bus(scratch.path);
    ASSERT_FALSE(bus.address.empty());
    FakeScreenSaver service(bus.address, scratch / "service.log");
    ASSERT_TRUE(service.ready);
    bus.freeze();
    ShowOnABus show(bus);
    ASSERT_TRUE(waitForWindow(show.screen.display, "demo", 60.0));
    EXPECT_TRUE(show.reaches(13.0, 20.0)) << "the first frames waited for the frozen bus";
    bus.thaw();
    ASSERT_TRUE(service.waitFor("inhibit", 1, 30.0));

    bus.freeze();
    ASSERT_TRUE(pressIn(show.screen.display, "demo", "space"));
    EXPECT_TRUE(waitFor([&] { return show.paused(); }, 20.0)) << "the pause waited for the frozen bus";
    ASSERT_TRUE(pressIn(show.screen.display, "demo", "space"));
    const double resumed = titleShowTime(show.titleNow());
    EXPECT_TRUE(show.reaches(resumed + 2.0, 20.0)) << "the frames after the play waited for the frozen bus";
    show.demo.signal(SIGTERM);
    const Exit exit = show.demo.wait(10.0);
    EXPECT_TRUE(exit.exited) << "the end waited for the frozen bus";
    EXPECT_EQ(exit.status, 128 + SIGTERM) << exit.err;
    bus.thaw();
    EXPECT_TRUE(waitFor([&] { return service.settled(); }, 20.0)) << "the inhibit outlived the show";
    EXPECT_EQ(service.finish(), 0);
}

// The sound server restarted on the same socket, or started only after the show: within 3 s of
// its return the sink carries the soundtrack, and at the show's time, the show saying one line
// when the sound is lost and one when it is back. The show's time is read from the window's
// title; the clicks' pitches tell their seconds, so that a sound a few seconds off the picture
// cannot pass for one on it.
TEST(UnattendedTest, TheSoundComesBackAtTheShowsTimeWhenItsServerRestartsOrArrivesLate)
{
    Scratch scratch;
    // The binary beside a click track of its own, which it finds as its soundtrack.
    fs::copy_file(demoBinary, scratch / "demo");
    const std::string mp3 = TestSupport::makePitchedClickTrack(scratch.path.string(), "valdrim.mp3", 86.4);
    ASSERT_FALSE(mp3.empty());
    const std::vector<double> clicks = TestSupport::clickPositions(mp3);
    ASSERT_GT(clicks.size(), 300u);
    XvfbServer screen(640, 360);
    ASSERT_FALSE(screen.display.empty());

    for (const bool restarted : {true, false}) {
        SCOPED_TRACE(restarted ? "the server restarted" : "the server arrives after the show");
        PrivateAudioServer server(restarted);
        ASSERT_EQ(server.ready, restarted);
        DemoProcess demo(scratch / "demo", {"DISPLAY=" + screen.display, "PULSE_SERVER=" + server.address},
                         {scratch / "demo", "--windowed", "--size", "320x180", "--start", "20"});
        ASSERT_TRUE(waitForWindow(screen.display, "demo", 60.0));
        TitleReader titleReader(screen.display, "demo");
        const auto showTime = [&] { return titleShowTime(titleReader.read()); };
        ASSERT_TRUE(waitFor([&] { return showTime() > 21.0; }, 60.0));
        if (restarted) {
            // Killed under the show, and back on the same socket 4 s later.
            server.stop(SIGKILL);
            std::this_thread::sleep_for(std::chrono::seconds(4));
        } else {
            ASSERT_TRUE(waitFor([&] { return showTime() > 23.0; }, 60.0));
        }
        ASSERT_TRUE(server.start()) << "could not start pulseaudio";
        const double back = now();

        // The sink's monitor and the title, polled together until 5 s after the return.
        TestSupport::SinkRecorder sink(server.address, scratch / (restarted ? "restarted.raw" : "late.raw"));
        ASSERT_TRUE(sink.recording());
        // The show time at the wall clock: a title is seen no earlier than it was set, so the
        // largest (t - wall) over the titles bounds the show's clock best (it runs at one second
        // a second, the picture leading).
        double showLead = -1e300;
        while (now() < back + 5.0) {
            sink.poll();
            if (const double t = showTime(); t > 0.0)
                showLead = std::max(showLead, t - now());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const std::vector<TestSupport::HeardClick> heard = sink.finishPitched();
        demo.signal(SIGTERM);
        const Exit exit = demo.wait(30.0);
        EXPECT_EQ(exit.status, 128 + SIGTERM) << exit.err;
        const auto count = [&exit](const char* line) {
            size_t n = 0;
            for (size_t at = exit.err.find(line); at != std::string::npos; at = exit.err.find(line, at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(count("demo: no sound output"), 1u) << exit.err;
        EXPECT_EQ(count("demo: the sound output is back"), 1u) << exit.err;

        ASSERT_FALSE(heard.empty()) << "nothing heard within 5 s of the server's return";
        const double firstHeard = heard.front().wall - back;
        EXPECT_LT(firstHeard, 3.0);
        // Heard less seen, judged from half a second after the sound is heard again, as after
        // any stall.
        std::vector<double> offsets = TestSupport::heardLessSeen(
            heard, clicks, [showLead](double wall) { return wall + showLead; }, back + firstHeard + 0.5, 1e300);
        ASSERT_GE(offsets.size(), 4u);
        std::sort(offsets.begin(), offsets.end());
        const double median = offsets[offsets.size() / 2];
        std::printf("%s: first heard %.2f s after the server's return; %zu clicks, heard less seen: median %+.0f ms "
                    "(%+.0f to %+.0f)\n",
                    restarted ? "restarted" : "late", firstHeard, offsets.size(), median * 1000.0,
                    offsets.front() * 1000.0, offsets.back() * 1000.0);
        EXPECT_GE(median, -TestSupport::mostSoundLag) << "the sound came back behind the picture";
        EXPECT_LE(median, TestSupport::mostSoundLead) << "the sound came back ahead of the picture";
    }
}

// The bounds of what is not black in a screenshot: the first and last such row and column.
struct Drawn {
    int top = -1, bottom = -1, left = -1, right = -1;
};

Drawn drawnArea(const Image& image)
{
    Drawn drawn;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const unsigned char* p = image.at(x, y);
            if (std::max({p[0], p[1], p[2]}) <= 4)
                continue;
            if (drawn.top < 0)
                drawn.top = y, drawn.left = x, drawn.right = x;
            drawn.bottom = y;
            drawn.left = std::min(drawn.left, x);
            drawn.right = std::max(drawn.right, x);
        }
    return drawn;
}

// The screen switched to 800x600 under the full-screen show and back: each time the 16:9
// picture is letterboxed for the new size, bars above and below and the picture across the
// width.
TEST(UnattendedTest, TheFullScreenShowFollowsTheScreensSize)
{
    Scratch scratch;
    XvfbServer screen(1280, 720);
    ASSERT_FALSE(screen.display.empty());
    const std::string xrandr = "DISPLAY=" + screen.display + " xrandr ";
    ASSERT_TRUE(run(xrandr + "--newmode 800x600 40 800 840 968 1056 600 601 605 628 && " + xrandr +
                    "--addmode screen 800x600"));
    // From the grid onwards, where the picture reaches its edges.
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display, "PULSE_SERVER=unix:/nonexistent/demo-socket"},
                     {demoBinary, "--start", "50"});
    ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));

    const struct {
        const char* mode;
        int width, height;
    } steps[] = {{"800x600", 800, 600}, {"1280x720", 1280, 720}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.mode);
        ASSERT_TRUE(run(xrandr + "--output screen --mode " + step.mode));
        const int barHeight = (step.height - step.width * 9 / 16) / 2;
        Drawn drawn;
        // The first frames at the new size may still be on their way.
        waitFor([&] {
            const Image shot = screenshot(screen.display, scratch / (std::string(step.mode) + ".png"));
            if (shot.width != step.width || shot.height != step.height)
                return false;
            drawn = drawnArea(shot);
            return std::abs(drawn.top - barHeight) <= 2 && std::abs(drawn.bottom - (step.height - 1 - barHeight)) <= 2;
        }, 30.0);
        EXPECT_NEAR(drawn.top, barHeight, 2);
        EXPECT_NEAR(drawn.bottom, step.height - 1 - barHeight, 2);
        EXPECT_LE(drawn.left, step.width / 40);
        EXPECT_GE(drawn.right, step.width - 1 - step.width / 40);
    }
    demo.signal(SIGTERM);
    EXPECT_EQ(demo.wait(30.0).status, 128 + SIGTERM);
}

} // namespace
