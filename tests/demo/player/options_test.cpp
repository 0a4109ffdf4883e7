// The command line and the capture's plan, without a context: what each command line asks for,
// and the one line that names what is wrong with a bad one.
#include "player/capture.h"
#include "player/offscreen.h"
#include "player/options.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Mode = Options::Mode;

ParsedOptions parse(std::vector<std::string> arguments)
{
    return parseOptions(arguments);
}

TEST(OptionsTest, GoodCommandLinesAndTheirDefaults)
{
    const Options none = parse({}).options;
    EXPECT_EQ(none.mode, Mode::show);
    EXPECT_FALSE(none.windowed);
    EXPECT_EQ(none.start, 0.0);

    const Options window = parse({"--windowed"}).options;
    EXPECT_TRUE(window.windowed);
    EXPECT_EQ(window.width, 1280u);
    EXPECT_EQ(window.height, 720u);

    const Options started = parse({"--windowed", "--size", "640x360", "--start=48"}).options;
    EXPECT_EQ(started.width, 640u);
    EXPECT_EQ(started.height, 360u);
    EXPECT_EQ(started.start, 48.0);
    EXPECT_EQ(parse({"--start", "0"}).options.start, 0.0);

    const Options still = parse({"--still", "42.5", "out.png"}).options;
    EXPECT_EQ(still.mode, Mode::still);
    EXPECT_EQ(still.stillTime, 42.5);
    EXPECT_EQ(still.outputFile, "out.png");
    EXPECT_EQ(still.width, 1920u);
    EXPECT_EQ(still.height, 1080u);

    const Options capture = parse({"--capture", "show.mp4"}).options;
    EXPECT_EQ(capture.mode, Mode::capture);
    EXPECT_EQ(capture.fps, 60.0);
    EXPECT_EQ(capture.from, 0.0);
    EXPECT_EQ(capture.to, 86.4);
    const Options part = parse({"--capture", "f/%05d.png", "--size", "321x181", "--fps", "10", "--from", "46",
                                "--to", "50"}).options;
    EXPECT_EQ(part.width, 321u); // odd sizes are fine for images
    EXPECT_EQ(part.fps, 10.0);
    EXPECT_EQ(part.to, 50.0);

    const Options bench = parse({"--bench", "--frames", "12", "--size", "1280x720"}).options;
    EXPECT_EQ(bench.mode, Mode::bench);
    EXPECT_EQ(bench.frames, 12u);
    EXPECT_EQ(parse({"--bench"}).options.frames, 300u);
    const Options benchPart = parse({"--bench", "--from", "40", "--to", "42", "--convert-on", "gpu"}).options;
    EXPECT_EQ(benchPart.from, 40.0);
    EXPECT_EQ(benchPart.to, 42.0);
    EXPECT_EQ(benchPart.convertOn, Options::ConvertOn::gpu);
    EXPECT_EQ(parse({"--bench"}).options.to, 86.4) << "the whole show";
    EXPECT_EQ(parse({"--capture", "a.mkv", "--convert-on", "cpu"}).options.convertOn, Options::ConvertOn::cpu);
    EXPECT_EQ(parse({"--capture", "a.mkv"}).options.convertOn, Options::ConvertOn::renderer);

    // Full screen at a chosen video mode, and the watching options with their defaults.
    const Options fullscreen = parse({"--size", "1280x720", "--loop", "--scale", "0.5", "--no-vsync"}).options;
    EXPECT_FALSE(fullscreen.windowed);
    EXPECT_EQ(fullscreen.width, 1280u);
    EXPECT_TRUE(fullscreen.loop);
    EXPECT_EQ(fullscreen.scale, 0.5);
    EXPECT_FALSE(fullscreen.vsync);
    EXPECT_EQ(none.width, 0u) << "the desktop's mode";
    EXPECT_FALSE(none.loop);
    EXPECT_EQ(none.scale, 1.0);
    EXPECT_TRUE(none.vsync);
    EXPECT_EQ(none.screenshotFolder, ".");
    EXPECT_EQ(parse({"--windowed", "--screenshots", "shots"}).options.screenshotFolder, "shots");
    EXPECT_EQ(parse({"--bench", "--scale", "0.25"}).options.scale, 0.25);

    EXPECT_EQ(parse({"-h"}).options.mode, Mode::help);
    EXPECT_EQ(parse({"--version"}).options.mode, Mode::version);
}

TEST(OptionsTest, BadCommandLinesNameTheirProblem)
{
    const struct {
        std::vector<std::string> arguments;
        const char* named; // a word the one-line message must contain
    } cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"stray"}, "stray"},
        {{"--scale", "0.2"}, "--scale"},
        {{"--scale", "1.01"}, "--scale"},
        {{"--still", "1", "a.png", "--scale", "x"}, "--scale"},
        {{"--still", "1", "a.png", "--loop"}, "--loop"},
        {{"--bench", "--no-vsync"}, "--no-vsync"},
        {{"--screenshots", "shots"}, "--windowed"},
        {{"--size", "640"}, "--size"},
        {{"--windowed", "--size", "640"}, "--size"},
        {{"--windowed", "--size", "0x360"}, "--size"},
        {{"--windowed", "--size", "x360"}, "--size"},
        {{"--windowed", "--size", "640x360x2"}, "--size"},
        {{"--start", "86.4"}, "--start"},
        {{"--start", "-1"}, "--start"},
        {{"--start", "nan"}, "--start"},
        {{"--start", "1\n2\x1b[2J"}, "1\\x0a2\\x1b[2J"}, // typed control characters stay harmless
        {{"--start"}, "--start"},
        {{"--still", "12"}, "--still"},
        {{"--still", "90", "a.png"}, "--still"},
        {{"--capture", "a.mp4", "--size", "321x180"}, "even"},
        {{"--capture", "a.mp4", "--from", "50", "--to", "46"}, "--from"},
        {{"--capture", "a.mp4", "--from", "46", "--to", "46"}, "--from"},
        {{"--capture", "a.mp4", "--to", "87"}, "--to"},
        {{"--capture", "a.mp4", "--fps", "0"}, "--fps"},
        {{"--capture", "a.mp4", "--fps", "241"}, "--fps"},
        {{"--capture", "a.avi"}, "a.avi"},
        {{"--capture", "f/%s.png"}, "%s"},
        {{"--capture", "f/%d-%d.png"}, "%d"},
        {{"--still", "1", "a.png", "--capture", "a.mp4"}, "combined"},
        {{"--bench", "--windowed"}, "--windowed"},
        {{"--bench", "--start", "3"}, "--start"},
        {{"--fps", "30"}, "--capture"},
        {{"--frames", "3"}, "--bench"},
        {{"--bench", "--frames", "0"}, "--frames"},
        {{"--bench", "--frames", "2.5"}, "--frames"},
        {{"--capture", "f/%03d.png", "--segment", "3/3"}, "--segment"},
        {{"--capture", "f/%03d.png", "--segment", "-1/3"}, "--segment"},
        {{"--capture", "f/%03d.png", "--segment", "1/"}, "--segment"},
        {{"--capture", "f/%03d.png", "--to", "0.2", "--fps", "10", "--segment", "0/3"}, "2 frames"},
        {{"--capture", "a.mp4", "--join", "f/%03d.png", "--segment", "0/2"}, "one of them"},
        {{"--capture", "f/%03d.png", "--join", "f/%03d.png"}, "over themselves"},
        {{"--capture", "a.mp4", "--join", "f/frames.png"}, "--join"},
        {{"--still", "1", "a.png", "--dry-run"}, "--capture"},
        {{"--convert-on", "gpu"}, "--capture or --bench"},
        {{"--capture", "a.mp4", "--convert-on", "tpu"}, "gpu or cpu"},
        {{"--capture", "f/%03d.png", "--convert-on", "cpu"}, "video"},
        {{"--still", "1", "a.png", "--from", "1"}, "--from"},
    };
    for (const auto& c : cases) {
        const ParsedOptions parsed = parse(c.arguments);
        std::string line;
        for (const std::string& a : c.arguments)
            line += a + " ";
        EXPECT_NE(parsed.error.find(c.named), std::string::npos) << line << "-> " << parsed.error;
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << line;
    }
}

TEST(OptionsTest, TheUsageTextNamesEveryOption)
{
    const std::string usage = usageText();
    for (const char* option : {"--windowed", "--size", "--start", "--still", "--capture", "--fps", "--from", "--to",
                               "--overwrite", "--bench", "--frames", "--help", "--version", "Examples", "--loop",
                               "--scale", "--no-vsync", "--screenshots", "--gl-errors", "F12", "Space", "Page Up", "softens",
                               "--segment", "--join", "--dry-run", "--convert-on"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(OptionsTest, ACaptureRendersEveryFrameBeforeItsEnd)
{
    EXPECT_EQ(captureFrameCount(46.0, 50.0, 10.0), 40u);
    EXPECT_EQ(captureFrameCount(0.0, 86.4, 60.0), 5184u);
    EXPECT_EQ(captureFrameCount(0.0, 86.4, 30.0), 2592u);
    EXPECT_EQ(captureFrameCount(0.0, 1.0, 7.5), 8u); // 0, 0.133, ... 0.933
    EXPECT_EQ(captureFrameCount(1.0, 1.01, 60.0), 1u);
}

// Segments side by side are the whole capture, whatever the counts.
TEST(OptionsTest, SegmentsCoverTheFramesOnceEachInOrder)
{
    for (unsigned frames = 1; frames <= 40; ++frames)
        for (unsigned segments = 1; segments <= frames; ++segments) {
            unsigned next = 0;
            for (unsigned k = 0; k < segments; ++k) {
                const FrameRange range = segmentFrames(frames, k, segments);
                ASSERT_EQ(range.first, next) << frames << " " << k << "/" << segments;
                ASSERT_GE(range.count(), frames / segments);
                ASSERT_LE(range.count(), frames / segments + 1);
                next = range.end;
            }
            ASSERT_EQ(next, frames);
        }
    EXPECT_EQ(segmentFrames(5184, 23, 24).end, 5184u); // no overflow on a long show
}

TEST(OptionsTest, AVideoIsWrittenUnderAPartialNameAndCutToItsPart)
{
    EXPECT_EQ(partialFileName("out/show.mp4", 42), "out/.show.partial-42.mp4");
    EXPECT_EQ(partialFileName("show.webm", 7), ".show.partial-7.webm");
    EXPECT_EQ(folderOf("out/show.mp4"), "out");
    EXPECT_EQ(folderOf("show.mp4"), ".");
    EXPECT_EQ(folderOf("/show.mp4"), "/");

    EncoderJob job;
    job.ffmpeg = "/usr/bin/ffmpeg";
    job.format = captureFormatOf("a.mp4");
    job.width = 320;
    job.height = 180;
    job.fps = 10;
    job.from = 46;
    job.to = 50;
    job.soundtrack = "/x/valdrim.mp3";
    job.output = ".a.partial-1.mp4";
    const std::vector<std::string> arguments = encoderArguments(job);
    auto follows = [&](const char* option, const std::string& value) {
        for (size_t i = 0; i + 1 < arguments.size(); ++i)
            if (arguments[i] == option && arguments[i + 1] == value)
                return true;
        return false;
    };
    EXPECT_EQ(arguments.front(), "/usr/bin/ffmpeg");
    EXPECT_EQ(arguments.back(), "file:.a.partial-1.mp4") << "a file, whatever its name says";
    EXPECT_TRUE(follows("-i", "file:/x/valdrim.mp3"));
    EXPECT_TRUE(follows("-s", "320x180"));
    EXPECT_TRUE(follows("-framerate", "10"));
    EXPECT_TRUE(follows("-c:v", "libx264"));
    EXPECT_TRUE(follows("-c:a", "aac"));
    EXPECT_TRUE(follows("-movflags", "+faststart"));
    EXPECT_TRUE(follows("-t", "4"));
    EXPECT_TRUE(follows("-af", "atrim=start=46:end=50,asetpts=PTS-STARTPTS"));

    job.format = captureFormatOf("f/%05d.png");
    const std::vector<std::string> images = encoderArguments(job);
    EXPECT_EQ(std::count(images.begin(), images.end(), "file:/x/valdrim.mp3"), 0) << "images have no sound";
}

// A video's name is only a name, % and all; a numbered pattern's frames are named as ffmpeg's
// image writer names them, which pads %Nd with zeros whether or not it says 0.
TEST(OptionsTest, ACapturesNameIsReadAsTheEncoderReadsIt)
{
    using Kind = CaptureFormat::Kind;
    const struct {
        const char* name;
        Kind kind;
    } formats[] = {
        {"50%.mp4", Kind::mp4},   {"a%d.mkv", Kind::mkv},        {"100%.webm", Kind::webm},
        {"f/%3d.png", Kind::images}, {"f/%05d.png", Kind::images}, {"50%.png", Kind::unsupported},
        {"f/%3s.png", Kind::unsupported},
    };
    for (const auto& f : formats)
        EXPECT_EQ(captureFormatOf(f.name).kind, f.kind) << f.name;
    EXPECT_EQ(parse({"--capture", "50%.mp4"}).error, "");

    const struct {
        const char* pattern;
        unsigned n;
        const char* name;
    } frames[] = {
        {"f/%3d.png", 0, "f/000.png"},     {"f/%3d.png", 42, "f/042.png"},   {"f/%03d.png", 7, "f/007.png"},
        {"f/%d.png", 12, "f/12.png"},      {"f/%1d.png", 123, "f/123.png"},  {"%05d.png", 99999, "99999.png"},
        {"shot:%2d.png", 3, "shot:03.png"},
    };
    for (const auto& f : frames)
        EXPECT_EQ(frameFileName(f.pattern, f.n), f.name) << f.pattern;
}

TEST(OptionsTest, TheEncodersFailureIsItsLastRealLineNamingTheUsersFile)
{
    const struct {
        const char* output;
        const char* reason;
    } cases[] = {
        {"av_interleaved_write_frame(): No space left on device\n    Last message repeated 2 times\n",
         "av_interleaved_write_frame(): No space left on device"},
        {"Error writing trailer of file:d/.c.partial-7.mkv: No space left on device\r\n"
         "Error closing file file:d/.c.partial-7.mkv: No space left on device\n\n",
         "Error closing file d/c:1.mkv: No space left on device"},
        {"d/.c.partial-7.mkv: Invalid argument", "d/c:1.mkv: Invalid argument"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(encoderFailure(c.output, "d/.c.partial-7.mkv", "d/c:1.mkv"), c.reason) << c.output;
}

TEST(OptionsTest, ProgressFitsItsLine)
{
    char line[160];
    formatProgress(line, sizeof line, 20, 40, 2.0);
    EXPECT_STREQ(line, "[############............]  50%  frame 20 of 40  10.0 fps  0:02 left");
    formatProgress(line, sizeof line, 0, 5184, 0.0);
    EXPECT_NE(std::string(line).find("frame 0 of 5184"), std::string::npos);
}

} // namespace
