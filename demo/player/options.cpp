#include "options.h"

#include "capture.h"
#include "timeline.h"

#include "show/choreography.h"
#include "show/letterbox.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>

namespace {

constexpr unsigned defaultWindowWidth = 1280, defaultWindowHeight = 720;
constexpr unsigned defaultPictureWidth = 1920, defaultPictureHeight = 1080;
constexpr double maximumFps = 240.0;
constexpr double minimumScale = 0.25;

std::string formatSeconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// "WxH" with two positive whole numbers.
bool parseSize(const std::string& text, unsigned& width, unsigned& height)
{
    unsigned long w = 0, h = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%lux%lu%n", &w, &h, &used) != 2 || used != static_cast<int>(text.size()))
        return false;
    if (text[0] < '0' || text[0] > '9' || w == 0 || h == 0 || w > 65535 || h > 65535)
        return false;
    const size_t x = text.find('x');
    if (x + 1 >= text.size() || text[x + 1] < '0' || text[x + 1] > '9')
        return false;
    width = static_cast<unsigned>(w);
    height = static_cast<unsigned>(h);
    return true;
}

// "K/N" with whole numbers 0 <= K < N.
bool parseSegment(const std::string& text, unsigned& index, unsigned& count)
{
    unsigned long k = 0, n = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%lu/%lu%n", &k, &n, &used) != 2 || used != static_cast<int>(text.size()))
        return false;
    const size_t slash = text.find('/');
    if (text[0] < '0' || text[0] > '9' || slash + 1 >= text.size() || text[slash + 1] < '0' || text[slash + 1] > '9')
        return false;
    if (n == 0 || n > 1000000 || k >= n)
        return false;
    index = static_cast<unsigned>(k);
    count = static_cast<unsigned>(n);
    return true;
}

// A decimal number, all of the text, finite.
bool parseNumber(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

// The message quotes what was typed: control characters in it are written out as \xNN, so that
// the message stays one line and sends nothing to the terminal.
ParsedOptions failure(const std::string& message)
{
    ParsedOptions parsed;
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            parsed.error += escaped;
        } else {
            parsed.error += c;
        }
    }
    return parsed;
}

} // namespace

ParsedOptions parseOptions(const std::vector<std::string>& arguments)
{
    CLI::App app("demo");
    app.set_help_flag(); // our own usage text, not the library's
    app.allow_windows_style_options(false);

    bool help = false, version = false, windowed = false, bench = false, overwrite = false, loop = false,
         noVsync = false, glErrors = false, dryRun = false;
    std::string size, start, fps, from, to, frames, capture, scale, screenshots, segment, join, convertOn;
    std::vector<std::string> still;
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    app.add_flag("--windowed", windowed);
    app.add_flag("--bench", bench);
    app.add_flag("--overwrite", overwrite);
    app.add_flag("--dry-run", dryRun);
    app.add_flag("--loop", loop);
    app.add_flag("--no-vsync", noVsync);
    app.add_flag("--gl-errors", glErrors);
    app.add_option("--scale", scale);
    app.add_option("--screenshots", screenshots);
    app.add_option("--size", size);
    app.add_option("--start", start);
    app.add_option("--still", still)->expected(2)->allow_extra_args(false);
    app.add_option("--capture", capture);
    app.add_option("--fps", fps);
    app.add_option("--from", from);
    app.add_option("--to", to);
    app.add_option("--frames", frames);
    app.add_option("--segment", segment);
    app.add_option("--join", join);
    app.add_option("--convert-on", convertOn);

    // The library wants the program's name first and the arguments last-to-first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        return failure(error.what());
    }

    ParsedOptions parsed;
    Options& options = parsed.options;
    const auto given = [&](const char* name) { return app.count(name) > 0; };

    if (help)
        return options.mode = Options::Mode::help, parsed;
    if (version)
        return options.mode = Options::Mode::version, parsed;

    const bool isStill = given("--still"), isCapture = given("--capture");
    if (isStill + isCapture + bench > 1)
        return failure("--still, --capture and --bench cannot be combined");
    if (isStill)
        options.mode = Options::Mode::still;
    else if (isCapture)
        options.mode = Options::Mode::capture;
    else if (bench)
        options.mode = Options::Mode::bench;
    const bool live = options.mode == Options::Mode::show;

    if (windowed && !live)
        return failure("--windowed is for the live show, not with --still, --capture or --bench");
    if (given("--start") && !live)
        return failure("--start is for the live show; a capture takes --from and --to");
    if (given("--fps") && options.mode != Options::Mode::capture)
        return failure("--fps needs --capture");
    if ((given("--from") || given("--to")) && options.mode != Options::Mode::capture &&
        options.mode != Options::Mode::bench)
        return failure("--from and --to need --capture or --bench");
    if (overwrite && options.mode != Options::Mode::capture)
        return failure("--overwrite needs --capture");
    if ((given("--segment") || given("--join") || dryRun) && options.mode != Options::Mode::capture)
        return failure("--segment, --join and --dry-run need --capture");
    if (given("--segment") && given("--join"))
        return failure("--segment draws frames and --join encodes them: give one of them");
    if (given("--frames") && options.mode != Options::Mode::bench)
        return failure("--frames needs --bench");
    if (given("--convert-on")) {
        if (options.mode != Options::Mode::capture && options.mode != Options::Mode::bench)
            return failure("--convert-on needs --capture or --bench");
        if (convertOn != "gpu" && convertOn != "cpu")
            return failure("--convert-on must be gpu or cpu, not \"" + convertOn + "\"");
        options.convertOn = convertOn == "gpu" ? Options::ConvertOn::gpu : Options::ConvertOn::cpu;
    }
    if ((loop || noVsync) && !live)
        return failure("--loop and --no-vsync are for the live show, not with --still, --capture or --bench");
    if (given("--screenshots") && !windowed)
        return failure("--screenshots needs --windowed, whose F12 key writes the pictures");
    options.windowed = windowed;
    options.overwrite = overwrite;
    options.dryRun = dryRun;
    options.loop = loop;
    options.vsync = !noVsync;
    options.glErrors = glErrors;
    if (given("--screenshots")) {
        if (screenshots.empty())
            return failure("--screenshots needs a folder");
        options.screenshotFolder = screenshots;
    }
    if (given("--scale") && (!parseNumber(scale, options.scale) || options.scale < minimumScale || options.scale > 1.0))
        return failure("--scale must be a number from 0.25 to 1, not \"" + scale + "\"");

    if (given("--size")) {
        if (!parseSize(size, options.width, options.height))
            return failure("--size must be WIDTHxHEIGHT with both at least 1, not \"" + size + "\"");
        const Letterbox picture = computeLetterbox(options.width, options.height);
        if (picture.width == 0 || picture.height == 0)
            return failure("--size " + size + " leaves no room for the 16:9 picture");
    } else if (windowed) {
        options.width = defaultWindowWidth;
        options.height = defaultWindowHeight;
    } else if (!live) {
        options.width = defaultPictureWidth;
        options.height = defaultPictureHeight;
    }

    const std::string range = "[0, " + formatSeconds(ShowCues::showLength) + ")";
    if (given("--start") && (!parseNumber(start, options.start) || !inShow(options.start)))
        return failure("--start must be a time in seconds in " + range + ", not \"" + start + "\"");

    if (isStill) {
        if (!parseNumber(still[0], options.stillTime) || !inShow(options.stillTime))
            return failure("--still must be a time in seconds in " + range + ", not \"" + still[0] + "\"");
        options.outputFile = still[1];
        if (options.outputFile.empty())
            return failure("--still needs a file name for the PNG");
    }

    if (isCapture || bench) {
        options.to = ShowCues::showLength;
        if (given("--from") && (!parseNumber(from, options.from) || !inShow(options.from)))
            return failure("--from must be a time in seconds in " + range + ", not \"" + from + "\"");
        if (given("--to") && (!parseNumber(to, options.to) || options.to <= 0.0 || options.to > ShowCues::showLength))
            return failure("--to must be a time in seconds in (0, " + formatSeconds(ShowCues::showLength) + "], not \"" + to + "\"");
        if (options.from >= options.to)
            return failure("--from must come before --to");
    }

    if (isCapture) {
        options.outputFile = capture;
        if (given("--fps") && (!parseNumber(fps, options.fps) || options.fps <= 0.0 || options.fps > maximumFps))
            return failure("--fps must be a number above 0 and at most 240, not \"" + fps + "\"");
        // Less than one frame's time is a slip, not a capture, even where a frame starts in it.
        if ((options.to - options.from) * options.fps < 1.0 - 1e-6 ||
            captureFrameCount(options.from, options.to, options.fps) == 0)
            return failure("--from and --to leave less than one frame to capture at " + formatSeconds(options.fps) +
                           " frames per second");
        const CaptureFormat format = captureFormatOf(capture);
        if (format.kind == CaptureFormat::Kind::unsupported)
            return failure("--capture writes .mp4, .mkv, .webm or a numbered image pattern such as frames/%05d.png, not \"" +
                           capture + "\"");
        if (format.needsEvenSize() && (options.width % 2 != 0 || options.height % 2 != 0))
            return failure("a video needs an even width and height, not " + std::to_string(options.width) + "x" +
                           std::to_string(options.height));
        if (given("--convert-on") && !format.takesPlanes())
            return failure("--convert-on is for a video's frames; numbered images are written as drawn");
        if (given("--segment")) {
            if (!parseSegment(segment, options.segment, options.segments))
                return failure("--segment must be K/N with whole numbers 0 <= K < N, not \"" + segment + "\"");
            // A segment's frames are joined later, so they are kept as they were drawn.
            if (format.kind != CaptureFormat::Kind::images)
                return failure("--segment writes a numbered image pattern such as frames/%05d.png, not \"" + capture +
                               "\"");
            const unsigned count = captureFrameCount(options.from, options.to, options.fps);
            if (options.segments > count)
                return failure("--segment " + segment + ": " + std::to_string(count) + " frames cannot make " +
                               std::to_string(options.segments) + " segments");
        }
        if (given("--join")) {
            // The join reads the files itself: only the name is a pattern, the folder may hold a %.
            const std::string joinName = join.substr(join.find_last_of("/\\") + 1);
            if (captureFormatOf(joinName).kind != CaptureFormat::Kind::images)
                return failure("--join takes a numbered image pattern such as frames/%05d.png, not \"" + join + "\"");
            if (join == capture)
                return failure("--join would write its frames over themselves: give the capture another pattern");
            options.joinFrames = join;
        }
    }

    if (given("--frames")) {
        double count = 0.0;
        if (!parseNumber(frames, count) || count < 1.0 || count > 1e6 || count != std::floor(count))
            return failure("--frames must be a whole number from 1 to 1000000, not \"" + frames + "\"");
        options.frames = static_cast<unsigned>(count);
    }
    return parsed;
}

std::string usageText()
{
    return R"(usage: demo [OPTIONS]

With no options the show plays full screen at the desktop's size, with its music, and ends by
itself after 86.4 s; Escape or closing the window ends it earlier.

Live show:
  --windowed            play in a window instead of full screen
  --size WxH            the window's size (default 1280x720); without --windowed, the full-screen
                        video mode, which the display must offer (default: the desktop's)
  --start S             begin the show and its music at S seconds (0 <= S < 86.4; default 0)
  --loop                at the end, start again from 0 with the music, until Escape or closing
  --no-vsync            draw frames as fast as they come instead of at the display's refresh
                        (for measuring the frame rate)
  --screenshots DIR     where F12 writes its pictures (default: the working directory)

Keys in the window (--windowed):
  Space                 pause and resume, picture and music together
  Right, Left           5 s forward or back (with Shift: 1 s)
  Page Up, Page Down    to the start of the next or previous shot
  Home                  back to the start
  F12 or S              write the frame shown as demo-<show time in ms>.png, at the picture's
                        size without the bars
  Escape                end the show (in every mode, as does closing the window)

Pictures and video, rendered off-screen at exact show times (no window is shown):
  --still T FILE.png    write the frame at show time T (0 <= T < 86.4) as a PNG
  --capture FILE        render every frame at t = from + n / fps and write a video with the
                        matching part of the soundtrack: .mp4 (H.264 + AAC), .mkv, .webm, or a
                        numbered image pattern such as frames/%05d.png (no sound); needs ffmpeg
  --fps N               frames per second of a capture (0 < N <= 240; default 60)
  --from S, --to S      the part of the show to capture or benchmark (default 0 to 86.4)
  --segment K/N         draw only segment K of N (0 <= K < N) of the capture's frames into the
                        numbered image pattern, each frame named by its place in the whole
                        capture, so that the N segments side by side are its frames (for
                        drawing a capture on many machines: see scripts/capture-farm.sh)
  --join PATTERN        encode the numbered PNGs of PATTERN (the capture's frames from 0, such
                        as the segments') into the --capture file instead of drawing them:
                        the same file, byte for byte, as drawing them would give
  --convert-on gpu|cpu  where a video's frames become the encoder's Y'CbCr 4:2:0 planes (the
                        file is the same either way; default: on the CPU where the OpenGL is a
                        software rasteriser, else on the GPU); also with --bench
  --dry-run             check the capture's options and its output's folder, say which frames
                        it would write, and end without drawing
  --overwrite           let a capture into numbered images replace files of the pattern that
                        are already there (without it, the capture refuses to start)
  --size WxH            picture size of --still, --capture and --bench (default 1920x1080); a
                        picture that is not 16:9 gets black bars

Live or off-screen:
  --scale F             render the sky, the scene and the glow at F times the picture's size
                        in each direction (0.25 <= F <= 1; default 1) and draw them at full
                        size: faster, but the picture softens and the glow widens with it

Measuring:
  --bench               render frames as fast as possible off-screen and print the time of each
                        render pass (median, p95, p99 in ms) and the frame rate
  --frames N            frames of --bench, spread evenly over the show, or over --from S to
                        --to S (default 300)

Checking the OpenGL driver, in every mode:
  --gl-errors           report each error the driver raises, one line each on standard error
                        (where it offers debug output, KHR_debug), and end with status 1 when
                        there were any

  -h, --help            this text
  --version             the program's version

Examples:
  demo --windowed --size 960x540 --start 38.4
  demo --windowed --loop --scale 0.5
  demo --size 1280x720 --loop
  demo --capture show.mp4 --size 1280x720 --fps 30
)";
}
