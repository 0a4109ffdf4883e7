#include "offline.h"

#include "encoder.h"
#include "gl_version.h"
#include "show.h"

#include <GL/glew.h>
#include <SFML/Window/Context.hpp>

#include <stb/stb_image_write.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace {

constexpr int failed = 1;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void removeQuietly(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// Whether a new file can be made in `folder`; says why not on standard error.
bool canWriteIn(const std::string& folder)
{
    const std::string probe = folder + "/.demo-probe-" + std::to_string(Platform::processId());
    std::ofstream file(probe, std::ios::binary);
    if (!file) {
        std::error_code error;
        const bool exists = std::filesystem::is_directory(folder, error);
        std::fprintf(stderr, "demo: cannot write in \"%s\": %s\n", folder.c_str(),
                     exists ? "permission denied" : "no such folder");
        return false;
    }
    file.close();
    removeQuietly(probe);
    return true;
}

// Renames a finished file onto its target; on failure removes it and says why.
bool moveIntoPlace(const std::string& partial, const std::string& target)
{
    std::error_code error;
    std::filesystem::rename(partial, target, error);
    if (!error)
        return true;
    removeQuietly(partial);
    std::fprintf(stderr, "demo: could not write \"%s\": %s\n", target.c_str(), error.message().c_str());
    return false;
}

// Two pixel-buffer objects used in turn: reading frame n back into one overlaps drawing frame
// n + 1, and frame n is mapped only after that.
class FrameReader {
public:
    explicit FrameReader(const Canvas& canvas_)
        : canvas(canvas_)
        , frameBytes(static_cast<GLsizeiptr>(canvas_.width) * canvas_.height * 4)
    {
        glGenBuffers(2, buffers.data());
        for (GLuint buffer : buffers) {
            glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
            glBufferData(GL_PIXEL_PACK_BUFFER, frameBytes, nullptr, GL_STREAM_READ);
        }
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    }
    ~FrameReader() { glDeleteBuffers(2, buffers.data()); }
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // Starts reading the canvas into buffer `slot`.
    void read(int slot) const
    {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, canvas.target.framebuffer);
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[slot]);
        glReadPixels(0, 0, static_cast<GLsizei>(canvas.width), static_cast<GLsizei>(canvas.height), GL_RGBA,
                     GL_UNSIGNED_BYTE, nullptr);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    }
    // The RGBA rows of buffer `slot`, bottom row first, until unmap.
    const void* map(int slot) const
    {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[slot]);
        return glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, frameBytes, GL_MAP_READ_BIT);
    }
    void unmap() const
    {
        glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    }
    size_t bytes() const { return static_cast<size_t>(frameBytes); }

private:
    const Canvas& canvas;
    GLsizeiptr frameBytes;
    std::array<GLuint, 2> buffers{};
};

// The objects every off-screen mode draws with, in the order the live show makes them.
struct OffscreenShow {
    ShowScene scene;
    PassTargets targets;
    Canvas canvas;
    PassInputs inputs;

    OffscreenShow(unsigned width, unsigned height)
        : targets(computeLetterbox(width, height))
        , canvas(width, height)
        , inputs(scene, targets)
    {
    }
    Choreography draw(float t, PassObserver observer = {})
    {
        return drawShowFrame(scene, targets, inputs, canvas.target, t, observer);
    }
};

int writeStill(OffscreenShow& show, const Options& options)
{
    show.draw(static_cast<float>(options.stillTime));
    const FrameReader reader(show.canvas);
    reader.read(0);
    const auto* rgba = static_cast<const unsigned char*>(reader.map(0));
    if (rgba == nullptr) {
        reader.unmap();
        std::fprintf(stderr, "demo: could not read the picture back from OpenGL\n");
        return failed;
    }
    const unsigned width = show.canvas.width, height = show.canvas.height;
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    for (unsigned y = 0; y < height; ++y) {
        const unsigned char* from = rgba + static_cast<size_t>(height - 1 - y) * width * 4; // top row first
        unsigned char* to = rgb.data() + static_cast<size_t>(y) * width * 3;
        for (unsigned x = 0; x < width; ++x)
            std::copy_n(from + 4 * x, 3, to + 3 * x);
    }
    reader.unmap();

    const std::string partial = partialFileName(options.outputFile, Platform::processId());
    if (!stbi_write_png(partial.c_str(), static_cast<int>(width), static_cast<int>(height), 3, rgb.data(),
                        static_cast<int>(width * 3))) {
        removeQuietly(partial);
        std::fprintf(stderr, "demo: could not write \"%s\"\n", options.outputFile.c_str());
        return failed;
    }
    return moveIntoPlace(partial, options.outputFile) ? 0 : failed;
}

// Standard error shows how far the capture is: redrawn in place on a terminal, otherwise one
// line per 5 %.
class Progress {
public:
    explicit Progress(unsigned total_)
        : total(total_)
        , terminal(Platform::standardErrorIsTerminal())
        , start(std::chrono::steady_clock::now())
    {
    }
    void update(unsigned done)
    {
        const int step = static_cast<int>(20.0 * done / total);
        if (!terminal && step == lastStep)
            return;
        lastStep = step;
        char line[160];
        formatProgress(line, sizeof line, done, total, secondsSince(start));
        std::fprintf(stderr, terminal ? "\r%s" : "%s\n", line);
        if (terminal && done == total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    double seconds() const { return secondsSince(start); }

private:
    unsigned total;
    bool terminal;
    std::chrono::steady_clock::time_point start;
    int lastStep = -1;
};

std::string lastLineOf(const std::string& path)
{
    std::ifstream file(path);
    std::string line, last;
    while (std::getline(file, line))
        if (!line.empty())
            last = line;
    return last;
}

// Removes what a capture that did not finish left behind.
void removeCaptureOutput(const Options& options, const std::string& partial, unsigned frames)
{
    if (captureFormatOf(options.outputFile).kind != CaptureFormat::Kind::images) {
        removeQuietly(partial);
        return;
    }
    for (unsigned n = 0; n < frames; ++n) {
        char name[4096];
        std::snprintf(name, sizeof name, options.outputFile.c_str(), n);
        removeQuietly(name);
    }
}

int capture(OffscreenShow& show, const Options& options, const std::string& ffmpeg,
            const Platform::StopRequests& stop)
{
    const CaptureFormat format = captureFormatOf(options.outputFile);
    const bool images = format.kind == CaptureFormat::Kind::images;
    const std::string partial = images ? options.outputFile : partialFileName(options.outputFile, Platform::processId());
    const std::string log =
        (std::filesystem::temp_directory_path() / ("demo-ffmpeg-" + std::to_string(Platform::processId()) + ".log")).string();

    EncoderJob job;
    job.ffmpeg = ffmpeg;
    job.format = format;
    job.width = show.canvas.width;
    job.height = show.canvas.height;
    job.fps = options.fps;
    job.from = options.from;
    job.to = options.to;
    job.output = partial;
    if (format.hasSound()) {
        const std::string soundtrack = Platform::executableDirectory() + "/valdrim.mp3";
        std::error_code error;
        if (std::filesystem::is_regular_file(soundtrack, error))
            job.soundtrack = soundtrack;
        else
            std::fprintf(stderr, "demo: warning: %s is missing; the video has no sound\n", soundtrack.c_str());
    }

    const unsigned frames = captureFrameCount(options.from, options.to, options.fps);
    Platform::ChildProcess encoder;
    if (!encoder.start(encoderArguments(job), log)) {
        std::fprintf(stderr, "demo: could not start %s\n", ffmpeg.c_str());
        removeQuietly(log);
        return failed;
    }

    const FrameReader reader(show.canvas);
    Progress progress(frames);
    bool written = true;
    // Hands frame n's picture, read back one frame earlier, to the encoder.
    const auto send = [&](unsigned n) {
        const void* pixels = reader.map(static_cast<int>(n % 2));
        written = pixels != nullptr && encoder.write(pixels, reader.bytes());
        reader.unmap();
        progress.update(n + 1);
    };
    unsigned drawn = 0;
    for (; drawn < frames && written && stop.received() == 0; ++drawn) {
        show.draw(static_cast<float>(options.from + drawn / options.fps));
        reader.read(static_cast<int>(drawn % 2));
        if (drawn > 0)
            send(drawn - 1);
    }
    if (written && stop.received() == 0 && drawn == frames)
        send(frames - 1);

    if (const int signal = stop.received()) {
        encoder.kill();
        removeCaptureOutput(options, partial, frames);
        removeQuietly(log);
        std::fprintf(stderr, "\ndemo: capture stopped; nothing was written\n");
        return 128 + signal;
    }
    const int status = encoder.finish();
    if (!written || status != 0) {
        const std::string reason = lastLineOf(log);
        removeCaptureOutput(options, partial, frames);
        removeQuietly(log);
        std::fprintf(stderr, "\ndemo: ffmpeg failed%s%s\n", reason.empty() ? "" : ": ", reason.c_str());
        return failed;
    }
    removeQuietly(log);
    if (!images && !moveIntoPlace(partial, options.outputFile))
        return failed;
    std::fprintf(stderr, "demo: wrote %u frames (%.1f frames per second) to %s\n", frames,
                 frames / progress.seconds(), options.outputFile.c_str());
    return 0;
}

// Per-pass figures of the benchmark, collected before any is printed.
struct PassSamples {
    std::array<std::vector<double>, static_cast<size_t>(Pass::count)> milliseconds;
};

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(std::ceil(fraction * values.size()));
    return values[std::min(values.size() - 1, rank > 0 ? rank - 1 : 0)];
}

// GL timestamps at the start and end of every pass of every frame, read after the sweep so the
// queries never stall the pipeline.
struct TimerQueries {
    std::vector<GLuint> names;
    unsigned frame = 0;
    explicit TimerQueries(unsigned frames)
        : names(static_cast<size_t>(frames) * static_cast<size_t>(Pass::count) * 2)
    {
        glGenQueries(static_cast<GLsizei>(names.size()), names.data());
    }
    ~TimerQueries() { glDeleteQueries(static_cast<GLsizei>(names.size()), names.data()); }
    TimerQueries(const TimerQueries&) = delete;
    TimerQueries& operator=(const TimerQueries&) = delete;

    static void mark(void* self, Pass pass, bool starting)
    {
        auto& queries = *static_cast<TimerQueries*>(self);
        const size_t index = (static_cast<size_t>(queries.frame) * static_cast<size_t>(Pass::count) +
                              static_cast<size_t>(pass)) * 2 + (starting ? 0 : 1);
        glQueryCounter(queries.names[index], GL_TIMESTAMP);
    }
    void collect(PassSamples& samples, unsigned frames) const
    {
        for (unsigned f = 0; f < frames; ++f)
            for (size_t p = 0; p < static_cast<size_t>(Pass::count); ++p) {
                const size_t index = (static_cast<size_t>(f) * static_cast<size_t>(Pass::count) + p) * 2;
                GLuint64 begin = 0, end = 0;
                glGetQueryObjectui64v(names[index], GL_QUERY_RESULT, &begin);
                glGetQueryObjectui64v(names[index + 1], GL_QUERY_RESULT, &end);
                samples.milliseconds[p].push_back(static_cast<double>(end - begin) * 1e-6);
            }
    }
};

// Wall time of each pass with the pipeline drained before and after it.
struct FinishedPassClock {
    PassSamples samples;
    std::chrono::steady_clock::time_point begin;
    static void mark(void* self, Pass pass, bool starting)
    {
        auto& clock = *static_cast<FinishedPassClock*>(self);
        glFinish();
        if (starting)
            clock.begin = std::chrono::steady_clock::now();
        else
            clock.samples.milliseconds[static_cast<size_t>(pass)].push_back(secondsSince(clock.begin) * 1e3);
    }
};

int bench(OffscreenShow& show, const Options& options, const Platform::StopRequests& stop)
{
    const unsigned frames = options.frames;
    const auto timeAt = [&](unsigned i) { return static_cast<float>(ShowCues::showLength * i / frames); };
    const FrameReader reader(show.canvas);
    // The read-back a capture does after each frame, with its mapping.
    const auto readBack = [&](const PassObserver& observer) {
        if (observer.hook != nullptr)
            observer.hook(observer.context, Pass::readBack, true);
        reader.read(0);
        reader.map(0);
        reader.unmap();
        if (observer.hook != nullptr)
            observer.hook(observer.context, Pass::readBack, false);
    };
    const auto sweep = [&](PassObserver observer, unsigned* frameCounter) {
        for (unsigned i = 0; i < frames && stop.received() == 0; ++i) {
            if (frameCounter != nullptr)
                *frameCounter = i;
            show.draw(timeAt(i), observer);
            readBack(observer);
        }
        glFinish();
    };

    std::fprintf(stderr, "demo: benchmark of %u frames at %ux%u, three sweeps\n", frames, show.canvas.width,
                 show.canvas.height);
    show.draw(timeAt(0)); // warm-up: first use compiles the driver's draw paths
    glFinish();

    PassSamples gpu;
    {
        TimerQueries queries(frames);
        sweep({&TimerQueries::mark, &queries}, &queries.frame);
        if (stop.received() == 0)
            queries.collect(gpu, frames);
    }
    FinishedPassClock wall;
    sweep({&FinishedPassClock::mark, &wall}, nullptr);

    const auto start = std::chrono::steady_clock::now();
    for (unsigned i = 0; i < frames && stop.received() == 0; ++i)
        show.draw(timeAt(i));
    glFinish();
    const double plainSeconds = secondsSince(start);
    if (const int signal = stop.received())
        return 128 + signal;

    std::printf("%-10s %28s   %28s\n", "", "GPU timer queries (ms)", "wall time, glFinish around (ms)");
    std::printf("%-10s %9s %9s %9s   %9s %9s %9s\n", "pass", "median", "p95", "p99", "median", "p95", "p99");
    double gpuTotal = 0.0, wallTotal = 0.0;
    for (size_t p = 0; p < static_cast<size_t>(Pass::count); ++p) {
        const auto& g = gpu.milliseconds[p];
        const auto& w = wall.samples.milliseconds[p];
        gpuTotal += percentile(g, 0.5);
        wallTotal += percentile(w, 0.5);
        std::printf("%-10s %9.3f %9.3f %9.3f   %9.3f %9.3f %9.3f\n", passName(static_cast<Pass>(p)),
                    percentile(g, 0.5), percentile(g, 0.95), percentile(g, 0.99), percentile(w, 0.5),
                    percentile(w, 0.95), percentile(w, 0.99));
    }
    std::printf("%-10s %9.3f %19s   %9.3f\n", "sum", gpuTotal, "", wallTotal);
    std::printf("frames per second without glFinish brackets (no read-back): %.2f (%u frames in %.2f s)\n",
                frames / plainSeconds, frames, plainSeconds);
    return 0;
}

} // namespace

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
        if (!canWriteIn(folderOf(options.outputFile)))
            return failed;
    }
    if (options.mode == Options::Mode::still && !canWriteIn(folderOf(options.outputFile)))
        return failed;

    // A context of its own, with no window on the screen: every picture goes to the canvas.
    const Platform::DisplayConnection display;
    if (!display.available()) {
        std::fprintf(stderr, "demo: no display to make an OpenGL context on (is DISPLAY set?)\n");
        return failed;
    }
    sf::Context context(showContextSettings(), 1, 1);
    if (!loadGLEntryPoints())
        return failed;
    const GLint largest = maximumPictureSize();
    if (options.width > static_cast<unsigned>(largest) || options.height > static_cast<unsigned>(largest)) {
        std::fprintf(stderr, "demo: a picture of %ux%u is larger than this OpenGL can render (at most %dx%d)\n",
                     options.width, options.height, largest, largest);
        return failed;
    }

    OffscreenShow show(options.width, options.height);
    switch (options.mode) {
    case Options::Mode::still:
        return writeStill(show, options);
    case Options::Mode::capture:
        return capture(show, options, ffmpeg, stop);
    case Options::Mode::bench:
        return bench(show, options, stop);
    default:
        return failed;
    }
}
