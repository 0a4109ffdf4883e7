// frame-bench: helpers of scripts/benchmark.sh.
//   frame-bench cpu [SWEEPS]          times the driver's own per-frame computation without GL
//   frame-bench close TITLE           asks the window named TITLE to close (WM_DELETE_WINDOW)
//   frame-bench wait-picture SECONDS  prints the wall-clock time at which the screen first
//                                     shows a pixel that is not black
// The last two need an X display.

#include "show/choreography.h"
#include "show/show.h"
#include "screen_probe.h"

#include "engine/model.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The show sampled as a 60 Hz display would see it, once through.
constexpr int framesPerSweep = 5184; // 86.4 s at 60 frames per second

float frameTime(int frame)
{
    return static_cast<float>(frame) / 60.0f;
}

struct Spread {
    double median, low, high;
};

Spread spreadOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

// Nanoseconds per frame of one sweep of `frameWork` over the whole show.
template <typename FrameWork>
double sweepNanoseconds(FrameWork&& frameWork)
{
    const auto start = std::chrono::steady_clock::now();
    for (int frame = 0; frame < framesPerSweep; ++frame)
        frameWork(frameTime(frame));
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(stop - start).count() / framesPerSweep;
}

int timeDriverComputation(int sweeps)
{
    // The demo's model with its ten instances, over an empty part list: draw composes every
    // world transform exactly as in the demo and, with no part to draw, issues no GL call.
    std::vector<Kest::Part> noParts;
    Kest::Model model(noParts);
    addShowInstances(model);
    const glm::mat4 identity(1.0f);

    // Results feed a sum that is printed, so that no work can be optimised away.
    double sink = 0.0;
    auto wholeFrame = [&](float t) {
        const Choreography show = choreograph(t);
        for (size_t i = 0; i < movedInstanceCount; ++i)
            model.setTransform(hubInstance + i, show.instanceTransforms[i]);
        model.draw(identity);
        sink += model.instances.back().worldTransform[3][1] + show.camera[3][2] + show.exposure;
    };
    auto choreographyOnly = [&](float t) {
        const Choreography show = choreograph(t);
        sink += show.instanceTransforms.back()[3][1] + show.camera[3][2] + show.exposure;
    };

    sweepNanoseconds(wholeFrame); // warm-up
    std::vector<double> whole, alone;
    for (int s = 0; s < sweeps; ++s) {
        whole.push_back(sweepNanoseconds(wholeFrame));
        alone.push_back(sweepNanoseconds(choreographyOnly));
    }
    const Spread w = spreadOf(whole);
    const Spread a = spreadOf(alone);
    std::printf("choreograph + 9 transforms set + 10 world transforms composed: median %.2f us/frame (min %.2f, max %.2f)\n",
                w.median / 1000.0, w.low / 1000.0, w.high / 1000.0);
    std::printf("  of which choreograph(t) alone:                                median %.2f us/frame (min %.2f, max %.2f)\n",
                a.median / 1000.0, a.low / 1000.0, a.high / 1000.0);
    std::printf("  (%d sweeps of %d frames, t = k/60 s over the whole show; checksum %.6g)\n", sweeps,
                framesPerSweep, sink);
    return 0;
}

int usage()
{
    std::fprintf(stderr, "usage: frame-bench cpu [SWEEPS] | close TITLE | wait-picture SECONDS\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const char* command = argv[1];
    if (std::strcmp(command, "cpu") == 0)
        return timeDriverComputation(argc > 2 ? std::max(1, std::atoi(argv[2])) : 21);
    if (std::strcmp(command, "close") == 0 && argc == 3) {
        if (ScreenProbe::requestClose(argv[2]))
            return 0;
        std::fprintf(stderr, "frame-bench: no window named \"%s\"\n", argv[2]);
        return 1;
    }
    if (std::strcmp(command, "wait-picture") == 0 && argc == 3) {
        const double seen = ScreenProbe::waitForPicture(std::atof(argv[2]));
        if (seen < 0.0) {
            std::fprintf(stderr, "frame-bench: the screen stayed black\n");
            return 1;
        }
        std::printf("%.6f\n", seen);
        return 0;
    }
    return usage();
}
