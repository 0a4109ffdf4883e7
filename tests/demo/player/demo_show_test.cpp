// The whole show through the real binary on virtual screens of several shapes: where the
// picture lands, what each shot broadly shows, that it ends by itself with sound, and what
// one frame asks of GL.
#include "show/show_cues.h"
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace {

using namespace DemoTest;

const std::string demoBinary = DEMO_BINARY;
const std::string shotDir = SHOT_DIR;

// A rectangle of the screen in image coordinates (rows from the top).
struct Rect {
    int x, y, width, height;
    bool contains(int px, int py) const { return px >= x && px < x + width && py >= y && py < y + height; }
};

// Every pixel outside the picture is exactly black.
bool barsAreBlack(const Image& image, const Rect& picture)
{
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (!picture.contains(x, y)) {
                const unsigned char* p = image.at(x, y);
                if (p[0] || p[1] || p[2])
                    return false;
            }
    return true;
}

double meanBrightness(const Image& image, const Rect& r)
{
    double sum = 0.0;
    for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x) {
            const unsigned char* p = image.at(x, y);
            sum += (p[0] + p[1] + p[2]) / 3.0;
        }
    return sum / (double(r.width) * r.height);
}

// Pixels of the grid's blue glow: far bluer than anything the sky or terrain shows.
int bluePixels(const Image& image, const Rect& r)
{
    int count = 0;
    for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x) {
            const unsigned char* p = image.at(x, y);
            count += p[2] > 120 && p[2] > p[0] + 80 && p[2] > p[1] + 40;
        }
    return count;
}

void sleepUntil(double wallTime)
{
    const double wait = wallTime - now();
    if (wait > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(wait));
}

struct Shot {
    int number;
    double time; // show seconds
};
// The middle of every shot, and the end of the fade in the last one.
std::vector<Shot> moments()
{
    std::vector<Shot> shots;
    for (unsigned n = 1; n <= ShowCues::shotCount; ++n)
        shots.push_back({static_cast<int>(n), ShowCues::shotMiddle(n)});
    shots.push_back({10, ShowCues::showLength - 1.2});
    return shots;
}

TEST(DemoShowTest, TheWholeShowOnA5By4ScreenEndsByItselfWithSound)
{
    ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr) << "run through scripts/services.sh";
    XvfbServer screen(1280, 1024);
    ASSERT_FALSE(screen.display.empty());
    const Rect picture{0, 152, 1280, 720};

    const std::string recording = shotDir + "/show-sound.raw";
    std::remove(recording.c_str());
    // The recorder is this test's own child, stopped by its process id.
    DemoProcess recorder({"parec", "--device=@DEFAULT_MONITOR@", "--latency-msec=50", "--format=s16le",
                                          "--rate=44100", "--channels=2", "--raw", recording});

    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display});
    // The show's clock starts when start-up ends, just before the first frame, however long
    // start-up takes on a loaded machine: the first picture on the screen comes as the clock
    // starts, less the frame's own drawing. The exit time, 86.4 s after the clock started, pins
    // every screenshot's show time afterwards.
    ASSERT_TRUE(waitForPicture(screen.display, 120.0)) << "no picture was drawn";
    const double estimatedStart = now();
    struct Taken {
        Shot shot;
        double wall;
        Image image;
    };
    std::vector<Taken> taken;
    for (const Shot& shot : moments()) {
        sleepUntil(estimatedStart + shot.time);
        const double wall = now();
        const std::string name = "/show-" + std::to_string(std::lround(shot.time * 10)) + ".png";
        taken.push_back({shot, wall, screenshot(screen.display, shotDir + name)});
    }
    const Exit exit = demo.wait(60.0);
    const double end = now();
    ASSERT_TRUE(exit.exited) << "the demo did not end by itself";
    EXPECT_EQ(exit.status, 0) << exit.err;
    EXPECT_EQ(exit.out, "") << "nothing but diagnostics goes to standard output";
    const double start = end - 86.4;

    double shot9Brightness = 0.0;
    double previousBrightness = 0.0;
    for (const Taken& t : taken) {
        const double showTime = t.wall - start;
        SCOPED_TRACE("shot " + std::to_string(t.shot.number) + " at t = " + std::to_string(showTime));
        ASSERT_EQ(t.image.width, 1280);
        EXPECT_NEAR(showTime, t.shot.time, t.shot.time > 85.0 ? 1.0 : 2.0) << "screenshot fell outside its shot";
        EXPECT_TRUE(barsAreBlack(t.image, picture));
        const double brightness = meanBrightness(t.image, picture);
        if (t.shot.number < 10) {
            EXPECT_GT(brightness, 15.0) << "the picture is (nearly) black";
        }
        if (t.shot.number == 9) {
            shot9Brightness = brightness;
        }
        // The exposure falls by e^-1.6 a second through the last shot; the bright sky glow
        // keeps its middle visible, but by its end everything is near black.
        if (t.shot.number == 10 && t.shot.time < 85.0) {
            EXPECT_LT(brightness, shot9Brightness) << "the last shot darkens";
        }
        if (t.shot.time > 85.0) {
            EXPECT_LT(brightness, 0.25 * previousBrightness) << "the last shot fades to black";
            EXPECT_LT(brightness, 8.0) << "the last shot fades to black";
        }
        previousBrightness = brightness;
        const int blue = bluePixels(t.image, picture);
        if (t.shot.time < ShowCues::gridStart) {
            EXPECT_LT(blue, 200) << "no grid before 48 s";
        }
        if (t.shot.number == 7) {
            EXPECT_GT(blue, 2000) << "the grid glows from 48 s";
        }
    }

    // The soundtrack reached the sound server while the show ran.
    recorder.signal(SIGTERM);
    recorder.wait(10.0);
    std::ifstream in(recording, std::ios::binary);
    std::vector<short> pcm;
    short sample;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample))
        pcm.push_back(sample);
    ASSERT_GT(pcm.size(), 44100u * 2 * 60) << "less than a minute was recorded";
    double energy = 0.0;
    for (short s : pcm)
        energy += double(s) * s;
    const double rms = std::sqrt(energy / double(pcm.size())) / 32768.0;
    EXPECT_GT(rms, 0.02) << "the show played no sound";
}

TEST(DemoShowTest, ThePictureIsLetterboxedOnWideAndExactScreens)
{
    struct Screen {
        int width, height;
        Rect picture;
    };
    const Screen screens[] = {{2560, 1080, {320, 0, 1920, 1080}}, {1280, 720, {0, 0, 1280, 720}}};
    for (const Screen& s : screens) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
        XvfbServer screen(s.width, s.height);
        ASSERT_FALSE(screen.display.empty());
        DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display});
        // Until the picture is drawn (its first seconds are bright), however long start-up takes.
        ASSERT_TRUE(waitForScreen(
            screen.display, [&](const Image& shown) { return meanBrightness(shown, s.picture) > 15.0; }, 120.0))
            << "no picture was drawn";
        const Image image =
            screenshot(screen.display, shotDir + "/aspect-" + std::to_string(s.width) + "x" + std::to_string(s.height) + ".png");
        ASSERT_EQ(image.width, s.width);
        EXPECT_TRUE(barsAreBlack(image, s.picture));
        EXPECT_GT(meanBrightness(image, s.picture), 15.0);
        // The picture fills its rectangle to the edges.
        EXPECT_GT(meanBrightness(image, {s.picture.x, s.picture.y, 4, s.picture.height}), 1.0);
        EXPECT_GT(meanBrightness(image, {s.picture.x + s.picture.width - 4, s.picture.y, 4, s.picture.height}), 1.0);
        ASSERT_TRUE(requestClose(screen.display, "OpenGL"));
        const Exit exit = demo.wait(30.0);
        EXPECT_TRUE(exit.exited);
        EXPECT_EQ(exit.status, 0);
    }
}

// The number after `marker` in `line`, or -1.
long numberAfter(const std::string& line, const std::string& marker)
{
    const size_t at = line.find(marker);
    if (at == std::string::npos)
        return -1;
    return std::strtol(line.c_str() + at + marker.size(), nullptr, 10);
}

// GL names a trace line creates or deletes, by kind. apitrace writes, for example,
// "glGenBuffers(n = 1, buffers = &7)", "glCreateProgram() = 9", "glDeleteShader(shader = 3)".
void collectNames(const std::string& line, std::map<std::string, std::set<long>>& created,
                  std::map<std::string, std::set<long>>& deleted)
{
    static const char* const arrays[][2] = {{"Buffers", "buffers = &"},           {"VertexArrays", "arrays = &"},
                                            {"Textures", "textures = &"},         {"Framebuffers", "framebuffers = &"},
                                            {"Renderbuffers", "renderbuffers = &"}};
    for (const auto& [kind, argument] : arrays) {
        if (line.find(std::string(" glGen") + kind + "(n = 1,") != std::string::npos)
            created[kind].insert(numberAfter(line, argument));
        if (line.find(std::string(" glDelete") + kind + "(n = 1,") != std::string::npos)
            deleted[kind].insert(numberAfter(line, argument));
    }
    for (const char* kind : {"Program", "Shader"}) {
        if (line.find(std::string(" glCreate") + kind + "(") != std::string::npos)
            created[kind].insert(numberAfter(line, ") = "));
        if (line.find(std::string(" glDelete") + kind + "(") != std::string::npos)
            deleted[kind].insert(numberAfter(line, " = "));
    }
}

// The calls of a traced run, frame by frame, and the GL names it created and deleted.
struct TracedRun {
    Exit exit;
    std::vector<std::vector<std::string>> frames{1};
    std::map<std::string, std::set<long>> created, deleted;
};

// Runs the demo under apitrace's tracer (preloaded into the demo itself, so that the process a
// test signals is the demo), lets it draw a few frames, and ends it with `end`.
template <typename End>
TracedRun traceShow(const std::string& name, End end)
{
    TracedRun run;
    XvfbServer screen(640, 360);
    EXPECT_FALSE(screen.display.empty());
    const std::string trace = shotDir + "/" + name + ".trace";
    std::remove(trace.c_str());
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display, "TRACE_FILE=" + trace, "LD_PRELOAD=" APITRACE_WRAPPER});
    // Four pictures, each unlike the one before: at least four frames shown, however slowly
    // the traced show draws them.
    Image last;
    int shown = 0;
    const bool drawn = waitForScreen(
        screen.display,
        [&](const Image& image) {
            const bool picture =
                std::any_of(image.rgb.begin(), image.rgb.end(), [](unsigned char c) { return c != 0; });
            if (picture && image.rgb != last.rgb)
                ++shown, last = image;
            return shown >= 4;
        },
        240.0);
    if (!drawn) {
        ADD_FAILURE() << "fewer than four frames were drawn";
        return run;
    }
    end(demo, screen.display);
    run.exit = demo.wait(60.0);

    FILE* dump = popen(("apitrace dump --color=never " + trace).c_str(), "r");
    if (dump == nullptr)
        return run;
    char buffer[4096];
    std::string line;
    while (fgets(buffer, sizeof buffer, dump)) {
        line += buffer;
        if (line.empty() || line.back() != '\n')
            continue;
        collectNames(line, run.created, run.deleted);
        run.frames.back().push_back(line);
        if (line.find("glXSwapBuffers") != std::string::npos)
            run.frames.emplace_back();
        line.clear();
    }
    pclose(dump);
    return run;
}

// Every object made at start-up is released at shut-down.
void expectEverythingReleased(TracedRun& run)
{
    for (const auto& [kind, names] : run.created) {
        SCOPED_TRACE(kind);
        EXPECT_FALSE(names.empty());
        for (long name : names)
            EXPECT_TRUE(run.deleted[kind].count(name)) << kind << " " << name << " is never deleted";
    }
    EXPECT_EQ(run.created["Program"].size(), 5u);
    EXPECT_EQ(run.created["Framebuffers"].size(), 3u);
    EXPECT_EQ(run.created["Textures"].size(), 3u);
    EXPECT_EQ(run.created["Renderbuffers"].size(), 1u);
    EXPECT_EQ(run.created["VertexArrays"].size(), 12u);
    EXPECT_EQ(run.created["Buffers"].size(), 24u);
}

TEST(DemoShowTest, EachFrameMakesTheSpecifiedDrawsAndCreatesNothing)
{
    TracedRun run = traceShow("frame", [](DemoProcess&, const std::string& display) {
        ASSERT_TRUE(requestClose(display, "OpenGL"));
    });
    ASSERT_TRUE(run.exit.exited);
    ASSERT_EQ(run.exit.status, 0) << run.exit.err;

    // frames[0] is start-up and the first frame; the last entry is the unfinished frame and
    // shut-down. Everything between is the steady frame loop.
    ASSERT_GE(run.frames.size(), 4u) << "fewer than three frames were shown";
    for (size_t f = 1; f + 1 < run.frames.size(); ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        int draws = 0;
        for (const std::string& call : run.frames[f]) {
            draws += call.find(" glDrawElements(") != std::string::npos;
            EXPECT_EQ(call.find(" glGen"), std::string::npos) << call;
            EXPECT_EQ(call.find(" glCreate"), std::string::npos) << call;
            EXPECT_EQ(call.find(" glDelete"), std::string::npos) << call;
        }
        EXPECT_EQ(draws, 17) << "eight screen quads and nine meshes";
    }
    expectEverythingReleased(run);
}

TEST(DemoShowTest, SIGTERMEndsTheShowThroughTheNormalShutDown)
{
    TracedRun run = traceShow("sigterm", [](DemoProcess& demo, const std::string&) { demo.signal(SIGTERM); });
    ASSERT_TRUE(run.exit.exited);
    EXPECT_EQ(run.exit.status, 143) << run.exit.err;
    expectEverythingReleased(run);
}

} // namespace
