// The real demo binary, driven as a user would drive it, each run on a screen of its own.
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <thread>

#include <unistd.h>

namespace {

using namespace DemoTest;

const std::string demoBinary = DEMO_BINARY;

TEST(DemoRunTest, WithoutADisplayItEndsWithOneClearLine)
{
    DemoProcess demo(demoBinary, {"DISPLAY="});
    const Exit exit = demo.wait(30.0);
    ASSERT_TRUE(exit.exited);
    EXPECT_EQ(exit.status, 1);
    EXPECT_NE(exit.err.find("display"), std::string::npos) << exit.err;
    EXPECT_EQ(std::count(exit.err.begin(), exit.err.end(), '\n'), 1) << exit.err;
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

// Starts the demo on a screen of its own, lets it run a moment, acts on the screen as a user
// would, and expects the demo to end cleanly.
template <typename Act>
void expectUserEndsTheShow(Act act, const char* what)
{
    XvfbServer screen(640, 360);
    ASSERT_FALSE(screen.display.empty());
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display});
    ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
    std::this_thread::sleep_for(std::chrono::seconds(1));
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

// Signals end the show like Escape, with the status a shell expects (128 + the signal), whether
// they come during start-up, before the first frame, or while frames are drawn.
TEST(DemoRunTest, SignalsEndTheShowWithTheirShellStatus)
{
    for (const auto& [signal, settle, status] : {std::tuple{SIGHUP, 0.0, 129}, std::tuple{SIGINT, 2.0, 130}}) {
        XvfbServer screen(640, 360);
        ASSERT_FALSE(screen.display.empty());
        DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display});
        ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
        std::this_thread::sleep_for(std::chrono::duration<double>(settle));
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
    // 6.4 s before the end.
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display, pulse}, {demoBinary, "--start", "80"});
    ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    server.signal(SIGKILL);
    const double killed = now();
    const Exit exit = demo.wait(30.0);
    ASSERT_TRUE(exit.exited) << "the show did not end after its audio server died";
    EXPECT_EQ(exit.status, 0) << exit.err;
    EXPECT_LT(now() - killed, 4.4 + 3.0) << "the show ended late";
}

} // namespace
