#include "player.h"

#include "capture.h"
#include "modes.h"
#include "offscreen.h"

#include "platform/platform.h"

#include <GL/glew.h>
#include <SFML/Window/Context.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#ifndef DEMO_VERSION
#define DEMO_VERSION "unknown"
#endif

namespace {

constexpr int failed = 1;

// A capture into numbered images replaces no file of its pattern unless asked to: an earlier
// capture's frames may lie there. (A video is written under a name of its own and then renamed.)
bool nothingToOverwrite(const Options& options)
{
    if (options.overwrite || captureFormatOf(options.outputFile).kind != CaptureFormat::Kind::images)
        return true;
    const FrameRange frames = captureFrames(options);
    for (unsigned n = frames.first; n < frames.end; ++n) {
        const std::string name = frameFileName(options.outputFile, n);
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(name, error))) {
            std::fprintf(stderr, "demo: %s is already there; --overwrite lets the capture replace it\n",
                         name.c_str());
            return false;
        }
    }
    return true;
}

// The still, capture (to `encoder`) or benchmark on the current context.
int renderOffline(const Options& options, std::optional<CaptureEncoder>& encoder, const Platform::StopRequests& stop);

// --still, --capture and --bench: the show rendered off-screen at exact times, with no window
// on the screen.
int runOffline(const Options& options, const Platform::StopRequests& stop)
{
    std::string ffmpeg;
    if (options.mode == Options::Mode::capture) {
        ffmpeg = Platform::findProgram("ffmpeg");
        if (ffmpeg.empty()) {
            std::fprintf(stderr, "demo: --capture needs the ffmpeg program, which is not installed "
                                 "(on Debian or Ubuntu: apt-get install ffmpeg)\n");
            return failed;
        }
        if (!canWriteFile(options.outputFile) || !nothingToOverwrite(options))
            return failed;
        if (options.dryRun) {
            const FrameRange frames = captureFrames(options);
            std::printf("frames %u to %u of %u\n", frames.first, frames.end - 1,
                        captureFrameCount(options.from, options.to, options.fps));
            return 0;
        }
        if (!options.joinFrames.empty())
            return runJoin(options, ffmpeg, stop);
    }
    if (options.mode == Options::Mode::still && !canWriteFile(options.outputFile))
        return failed;
    std::optional<CaptureEncoder> encoder;
    if (options.mode == Options::Mode::capture && !encoder.emplace(options, ffmpeg).started())
        return failed;

    // A context of its own, with no window on the screen: every picture goes to the canvas.
    const Platform::DisplayConnection display;
    if (!display.available()) {
        std::fprintf(stderr, "demo: no display to make an OpenGL context on (is DISPLAY set?)\n");
        return failed;
    }
    if (!display.offersOpenGL()) {
        std::fprintf(stderr, "%s", Platform::DisplayConnection::noOpenGLMessage);
        return failed;
    }
    sf::Context context(Platform::showContextSettings(options.glErrors), 1, 1);
    if (!Platform::loadGLEntryPoints())
        return failed;
    std::optional<Platform::GLErrorReport> errors;
    if (options.glErrors)
        errors.emplace();
    const int status = renderOffline(options, encoder, stop);
    return errors && errors->errors() > 0 && status == 0 ? failed : status;
}

int renderOffline(const Options& options, std::optional<CaptureEncoder>& encoder, const Platform::StopRequests& stop)
{
    const GLint largest = maximumPictureSize();
    if (options.width > static_cast<unsigned>(largest) || options.height > static_cast<unsigned>(largest)) {
        std::fprintf(stderr, "demo: a picture of %ux%u is larger than this OpenGL can render (at most %dx%d)\n",
                     options.width, options.height, largest, largest);
        return failed;
    }

    OffscreenShow show(options.width, options.height, options.scale);
    switch (options.mode) {
    case Options::Mode::still:
        return writeStill(show, options, stop);
    case Options::Mode::capture:
        return runCapture(show, options, *encoder, stop);
    case Options::Mode::bench:
        return runBenchmark(show, options, stop);
    default:
        return failed;
    }
}

// Help and version: a write that failed (a full disk, a closed stream) is an error, as it would
// be for any other output, not a success with nothing shown.
int printToStandardOutput(const std::string& text)
{
    errno = 0;
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0)
        return 0;
    std::fprintf(stderr, "demo: could not write to standard output: %s\n", std::strerror(errno));
    return failed;
}

} // namespace

int runPlayer(const ParsedOptions& parsed)
{
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "demo: %s; see demo --help\n", parsed.error.c_str());
        return 2;
    }
    const Options& options = parsed.options;
    switch (options.mode) {
    case Options::Mode::help:
        return printToStandardOutput(usageText());
    case Options::Mode::version:
        return printToStandardOutput(std::string("demo ") + DEMO_VERSION + "\n");
    case Options::Mode::show: {
        const Platform::StopRequests stop;
        return runLiveShow(options, stop);
    }
    default: {
        const Platform::StopRequests stop;
        return runOffline(options, stop);
    }
    }
}
