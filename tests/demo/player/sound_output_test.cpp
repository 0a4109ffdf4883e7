// The live show beside a sound server that does not answer or a sink that takes nothing, through
// the real binary on an X server and a PulseAudio server of the test's own: the picture never
// waits for the sound, Escape and signals end the show at once, and the show says the sound is
// back only when the sink plays it again.
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace {

using namespace DemoTest;
namespace fs = std::filesystem;

const std::string demoBinary = DEMO_BINARY;

// Waits up to `seconds` for `condition`, checking every 20 ms.
bool waitFor(const std::function<bool()>& condition, double seconds)
{
    for (const double deadline = now() + seconds; !condition();) {
        if (now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

size_t count(const std::string& text, const std::string& line)
{
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++n;
    return n;
}

const std::string missingLine = "demo: no sound output";
const std::string backLine = "demo: the sound output is back";

// The demo in a folder of its own, beside a soundtrack of one steady tone, so that any stretch
// of what the sink plays holds sound.
struct ShowFolder {
    Scratch scratch;
    bool ready = false;
    ShowFolder()
    {
        fs::copy_file(demoBinary, scratch / "demo");
        const std::string wav = scratch / "tone.wav";
        ready = std::system(("sox -q -n -r 44100 -c 2 -b 16 " + wav + " synth 90 sine 440 gain -6 && lame --quiet -b 128 " +
                             wav + " " + scratch / "valdrim.mp3")
                                .c_str()) == 0;
        std::remove(wav.c_str());
    }
    std::unique_ptr<DemoProcess> start(const std::string& display, const PrivateAudioServer& server) const
    {
        return std::make_unique<DemoProcess>(scratch / "demo",
                                             std::vector<std::string>{"DISPLAY=" + display, "PULSE_SERVER=" + server.address},
                                             std::vector<std::string>{scratch / "demo", "--windowed", "--size", "320x180"});
    }
};

// What the server's sink plays, recorded from its monitor while this lives.
class SinkMonitor {
public:
    SinkMonitor(const PrivateAudioServer& server, std::string file)
        : path(std::move(file))
        , recorder(std::vector<std::string>{"env", "PULSE_SERVER=" + server.address, "parec", "--device=@DEFAULT_MONITOR@",
                                            "--latency-msec=5", "--format=s16le", "--rate=44100", "--channels=2", "--raw",
                                            path})
    {
    }
    // Bytes recorded so far: a mark to hear from.
    long mark() const
    {
        struct stat status {};
        return stat(path.c_str(), &status) == 0 ? static_cast<long>(status.st_size) : 0;
    }
    // Whether the sink played sound after `from` (a mark).
    bool heardSince(long from) const
    {
        std::ifstream in(path, std::ios::binary);
        in.seekg(from);
        short sample = 0;
        while (in.read(reinterpret_cast<char*>(&sample), sizeof sample))
            if (std::abs(sample) > 4000)
                return true;
        return false;
    }

private:
    std::string path;
    DemoProcess recorder;
};

// A client of the same server asking it for its state, started now: it waits for the answer of
// a frozen server until the client library gives up on it (after 30 s), then says so.
class WaitingClient {
public:
    explicit WaitingClient(const PrivateAudioServer& server)
        : client(std::vector<std::string>{"env", "PULSE_SERVER=" + server.address, "pactl", "info"})
    {
    }
    bool waiting() const { return client.errorSoFar().empty(); }

private:
    DemoProcess client;
};

// The sound server frozen (SIGSTOP) before the show starts: the show is drawn and runs on while
// the server's first answer is still awaited (a client started with the show still waits),
// says once that there is no sound, and Escape ends it with 0 before that client gives up.
// Thawed, the server gets the soundtrack and the show says it is back; frozen again under the
// playing show, SIGTERM ends it with 128 + 15 before a new client gives up.
TEST(SoundOutputTest, AFrozenSoundServerHoldsUpNeitherThePictureNorTheEnd)
{
    ShowFolder folder;
    ASSERT_TRUE(folder.ready) << "could not make the soundtrack";
    XvfbServer screen(640, 360);
    ASSERT_FALSE(screen.display.empty());

    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "ended by Escape while frozen from the start" : "thawed, frozen again, ended by SIGTERM");
        PrivateAudioServer server;
        ASSERT_TRUE(server.ready) << "could not start pulseaudio";
        server.signal(SIGSTOP);
        const WaitingClient startedWithTheShow(server);
        const auto demo = folder.start(screen.display, server);
        ASSERT_TRUE(waitForWindow(screen.display, "demo", 60.0));
        TitleReader title(screen.display, "demo");
        const auto showTime = [&] { return titleShowTime(title.read()); };
        ASSERT_TRUE(waitFor([&] { return showTime() > 0.0 || !startedWithTheShow.waiting(); }, 120.0));
        ASSERT_TRUE(startedWithTheShow.waiting()) << "the first frame waited until the frozen server was given up";
        // The picture runs on, and the show says why it is silent.
        const double firstSeen = showTime();
        EXPECT_TRUE(waitFor([&] { return demo->errorSoFar().find(missingLine) != std::string::npos; }, 60.0))
            << demo->errorSoFar();
        EXPECT_TRUE(waitFor([&] { return showTime() > firstSeen + 1.0; }, 60.0)) << "the picture held";

        if (escape) {
            focusWindow(screen.display, "demo");
            setKey(screen.display, "Escape", true);
            setKey(screen.display, "Escape", false);
            const Exit exit = demo->wait(60.0);
            EXPECT_TRUE(startedWithTheShow.waiting()) << "the show ended only once the frozen server was given up";
            EXPECT_TRUE(exit.exited);
            EXPECT_EQ(exit.status, 0) << exit.err;
            EXPECT_EQ(count(exit.err, missingLine), 1u) << exit.err;
            EXPECT_EQ(count(exit.err, backLine), 0u) << exit.err;
            server.signal(SIGCONT);
            continue;
        }

        server.signal(SIGCONT);
        const SinkMonitor sink(server, folder.scratch / "sink.raw");
        ASSERT_TRUE(waitFor([&] { return sink.mark() > 0; }, 30.0)) << "parec does not record";
        const long thawed = sink.mark();
        EXPECT_TRUE(waitFor([&] { return demo->errorSoFar().find(backLine) != std::string::npos; }, 60.0))
            << demo->errorSoFar();
        EXPECT_TRUE(waitFor([&] { return sink.heardSince(thawed); }, 30.0)) << "the sink never played the soundtrack";

        const std::string said = demo->errorSoFar();
        EXPECT_EQ(count(said, missingLine), 1u) << said;
        EXPECT_EQ(count(said, backLine), 1u) << said;

        server.signal(SIGSTOP);
        const WaitingClient startedWhenFrozen(server);
        demo->signal(SIGTERM);
        const Exit exit = demo->wait(60.0);
        EXPECT_TRUE(startedWhenFrozen.waiting()) << "the show ended only once the frozen server was given up";
        server.signal(SIGCONT);
        EXPECT_TRUE(exit.exited);
        EXPECT_EQ(exit.status, 128 + SIGTERM) << exit.err;
    }
}

// The sink's playback stream: its index in the server's list, empty when there is none.
std::string playbackStream(const PrivateAudioServer& server)
{
    const std::string list = commandOutput("env PULSE_SERVER=" + server.address + " pactl list short sink-inputs");
    return list.substr(0, list.find('\t'));
}

// The sink suspended under the playing show for ten seconds of the show: the stream is left
// where it is, the show says once that there is no sound and claims nothing back meanwhile, and
// once the sink is resumed it says the sound is back, which the sink then plays.
TEST(SoundOutputTest, ASuspendedSinkIsLeftAloneAndTheSoundIsBackOnlyOnceItPlays)
{
    ShowFolder folder;
    ASSERT_TRUE(folder.ready) << "could not make the soundtrack";
    XvfbServer screen(640, 360);
    ASSERT_FALSE(screen.display.empty());
    PrivateAudioServer server;
    ASSERT_TRUE(server.ready) << "could not start pulseaudio";
    const SinkMonitor sink(server, folder.scratch / "sink.raw");
    const auto demo = folder.start(screen.display, server);
    ASSERT_TRUE(waitForWindow(screen.display, "demo", 60.0));
    TitleReader title(screen.display, "demo");
    const auto showTime = [&] { return titleShowTime(title.read()); };
    ASSERT_TRUE(waitFor([&] { return sink.heardSince(0); }, 60.0)) << "the sink never played the soundtrack";
    const std::string stream = playbackStream(server);
    ASSERT_FALSE(stream.empty());

    const auto suspend = [&](bool suspended) {
        const std::string command =
            "env PULSE_SERVER=" + server.address + " pactl suspend-sink private_null " + (suspended ? "1" : "0");
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    };
    suspend(true);
    const double suspendedAt = showTime();
    EXPECT_TRUE(waitFor([&] { return demo->errorSoFar().find(missingLine) != std::string::npos; }, 60.0))
        << demo->errorSoFar();
    EXPECT_TRUE(waitFor([&] { return showTime() > suspendedAt + 10.0; }, 120.0)) << "the picture held";
    EXPECT_EQ(count(demo->errorSoFar(), backLine), 0u) << "the sound was said to be back while the sink was suspended\n"
                                                        << demo->errorSoFar();
    EXPECT_EQ(playbackStream(server), stream) << "the stream on the suspended sink was replaced";

    const long resumed = sink.mark();
    suspend(false);
    EXPECT_TRUE(waitFor([&] { return demo->errorSoFar().find(backLine) != std::string::npos; }, 60.0))
        << demo->errorSoFar();
    EXPECT_TRUE(waitFor([&] { return sink.heardSince(resumed); }, 30.0)) << "the sink never played the soundtrack again";
    EXPECT_EQ(playbackStream(server), stream);

    demo->signal(SIGTERM);
    const Exit exit = demo->wait(60.0);
    EXPECT_EQ(exit.status, 128 + SIGTERM) << exit.err;
    EXPECT_EQ(count(exit.err, missingLine), 1u) << exit.err;
    EXPECT_EQ(count(exit.err, backLine), 1u) << exit.err;
}

} // namespace
