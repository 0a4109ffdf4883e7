#include "modes.h"
#include "offscreen.h"
#include "read_back.h"

#include <GL/glew.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

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

} // namespace

int runBenchmark(OffscreenShow& show, const Options& options, const Platform::StopRequests& stop)
{
    const unsigned frames = options.frames;
    const auto timeAt = [&](unsigned i) {
        return static_cast<float>(options.from + (options.to - options.from) * i / frames);
    };
    // What a video capture does after each frame, here not overlapped with the next frame: the
    // conversion to the encoder's planes (where the size allows them; on the GPU before the
    // read-back, on the CPU after it) and the read-back, with its mapping.
    FrameReadBack reader(show.canvas, chosenConversion(options.convertOn, show.canvas), 1);
    const auto mark = [](const PassObserver& observer, Pass pass, bool starting) {
        if (observer.hook != nullptr)
            observer.hook(observer.context, pass, starting);
    };
    const auto readBack = [&](const PassObserver& observer) {
        // On the GPU the pass writes the planes where they are mapped: its time is the
        // conversion's, and the read-back is the mapping alone. Every pass is marked each frame,
        // an empty one too.
        const bool onGpu = reader.conversion == Conversion::gpu, onCpu = reader.conversion == Conversion::cpu;
        if (!onCpu) {
            mark(observer, Pass::conversion, true);
            if (onGpu)
                reader.read(0);
            mark(observer, Pass::conversion, false);
        }
        mark(observer, Pass::readBack, true);
        if (!onGpu)
            reader.read(0);
        const void* mapped = reader.map(0);
        mark(observer, Pass::readBack, false);
        if (onCpu) {
            mark(observer, Pass::conversion, true);
            reader.encoderBytes(mapped);
            mark(observer, Pass::conversion, false);
        }
        reader.unmap();
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

    // Which driver drew the figures below: the same GL library can hand a context to a GPU's
    // driver or to a software rasteriser.
    const auto glText = [](GLenum name) {
        const GLubyte* text = glGetString(name);
        return text != nullptr ? reinterpret_cast<const char*>(text) : "(none)";
    };
    std::printf("GL vendor: %s\nGL renderer: %s\nGL version: %s\n", glText(GL_VENDOR), glText(GL_RENDERER),
                glText(GL_VERSION));
    std::printf("conversion to Y'CbCr 4:2:0: %s\n",
                reader.conversion == Conversion::gpu   ? "on the GPU, into the buffer mapped"
                : reader.conversion == Conversion::cpu ? "on the CPU, after the read-back"
                                                       : "none (a video needs an even width and height)");
    std::fprintf(stderr, "demo: benchmark of %u frames at %ux%u", frames, show.canvas.width, show.canvas.height);
    if (options.scale != 1.0)
        std::fprintf(stderr, " (sky, scene and glow at %ux%u)", show.targets.sceneTarget.width,
                     show.targets.sceneTarget.height);
    std::fprintf(stderr, ", three sweeps\n");
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

