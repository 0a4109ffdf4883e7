#include "reference.h"

#include <X11/Xlib.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

namespace SyncReference {

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned rate = 44100;
constexpr unsigned chunkFrames = 220;   // 5 ms: the writer's step, not the timing's resolution
constexpr unsigned burstFrames = 1764;  // 40 ms
constexpr unsigned gapFrames = rate;    // a second between flips

std::int64_t nanoseconds(Clock::time_point at)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

} // namespace

bool run(int count, int x, int y, int width, int height)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "sync-probe: no X display\n");
        return false;
    }
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const GC gc = XCreateGC(display, root, 0, nullptr);
    XSetSubwindowMode(display, gc, IncludeInferiors);
    const auto fill = [&](bool white) {
        XSetForeground(display, gc, white ? WhitePixel(display, screen) : BlackPixel(display, screen));
        XFillRectangle(display, root, gc, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XSync(display, False);
    };
    fill(false);

    // A short target length, as the live show's stream has, so that PulseAudio's latency figure
    // is a small number measured rather than a long buffer guessed.
    const pa_sample_spec format{PA_SAMPLE_S16LE, rate, 2};
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = rate * 4 / 50; // 20 ms
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    int error = 0;
    pa_simple* stream =
        pa_simple_new(nullptr, "sync-probe", PA_STREAM_PLAYBACK, nullptr, "reference", &format, nullptr, &attributes, &error);
    if (stream == nullptr) {
        std::fprintf(stderr, "sync-probe: no sound server: %s\n", pa_strerror(error));
        XFreeGC(display, gc);
        XCloseDisplay(display);
        return false;
    }

    std::vector<std::int16_t> silence(chunkFrames * 2, 0), burst(burstFrames * 2);
    std::mt19937 noise(7);
    std::uniform_int_distribution<int> level(-16000, 16000);
    for (auto& sample : burst)
        sample = static_cast<std::int16_t>(level(noise));
    // The first sample of a burst must stand out from silence at once.
    burst[0] = burst[1] = 16000;

    // The writer hands the main thread the instant each burst starts at the sink.
    std::atomic<std::int64_t> flipAt{-1};
    std::atomic<bool> written{false};
    bool ok = true;
    std::thread writer([&] {
        const auto write = [&](const std::int16_t* data, unsigned frames) {
            ok = ok && pa_simple_write(stream, data, frames * 4, &error) >= 0;
        };
        for (int flip = 0; flip < count && ok; ++flip) {
            for (unsigned done = 0; done < gapFrames; done += chunkFrames)
                write(silence.data(), chunkFrames);
            // What is written next is played after what the stream and the sink still hold.
            const pa_usec_t latency = pa_simple_get_latency(stream, &error);
            flipAt.store(nanoseconds(Clock::now()) + static_cast<std::int64_t>(latency) * 1000);
            write(burst.data(), burstFrames);
        }
        for (unsigned done = 0; done < gapFrames / 2; done += chunkFrames)
            write(silence.data(), chunkFrames);
        ok = ok && pa_simple_drain(stream, &error) >= 0;
        written = true;
    });
    bool white = false;
    while (!written) {
        const std::int64_t at = flipAt.exchange(-1);
        if (at < 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        std::this_thread::sleep_until(Clock::time_point(std::chrono::nanoseconds(at)));
        white = !white;
        fill(white);
    }
    writer.join();
    fill(false);
    if (!ok)
        std::fprintf(stderr, "sync-probe: the sound server failed: %s\n", pa_strerror(error));
    pa_simple_free(stream);
    XFreeGC(display, gc);
    XCloseDisplay(display);
    return ok;
}

} // namespace SyncReference
