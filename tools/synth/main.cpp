// synth: renders the soundtrack from the score in code to a 16-bit stereo WAV file.
// Usage: synth OUTPUT.wav

#include "effects.h"
#include "mastering.h"
#include "score.h"
#include "wav.h"

#include <chrono>
#include <cstdio>

namespace {

// Effects on the sends, then everything summed onto one bus.
Synth::Bus mixDown(Synth::Mix& mix)
{
    using namespace Synth;
    applyPump(mix.pumped, mix.pumpTimes, 0.55, 0.16);
    Bus echo = mix.echoSend;
    applyEcho(echo, 0.45, 0.45, 3200.0);  // a dotted eighth at 100 bpm
    for (size_t n = 0; n < echo.frames(); ++n) {
        mix.reverbSend.left[n] += 0.3f * echo.left[n];
        mix.reverbSend.right[n] += 0.3f * echo.right[n];
    }
    applyReverb(mix.reverbSend, 4.0, 3500.0, 0.025);

    Bus out(mix.steady.frames());
    for (size_t n = 0; n < out.frames(); ++n) {
        out.left[n] = mix.steady.left[n] + mix.pumped.left[n] + mix.reverbSend.left[n] + 0.5f * echo.left[n];
        out.right[n] = mix.steady.right[n] + mix.pumped.right[n] + mix.reverbSend.right[n] + 0.5f * echo.right[n];
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    const auto started = std::chrono::steady_clock::now();

    Synth::Mix mix(Synth::frameAt(Synth::trackSeconds));
    Synth::writeScore(mix);
    Synth::Bus track = mixDown(mix);
    const Synth::MasterReport report = Synth::master(track, Synth::MasterSettings{});
    if (!Synth::writeWav(argv[1], track)) {
        std::fprintf(stderr, "synth: cannot write %s\n", argv[1]);
        return 1;
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("synth: %s: %.1f s, %.2f LUFS, true peak %.2f dBTP, make-up %+.1f dB, "
                "deepest limiting %.1f dB, rendered in %.1f s\n",
                argv[1], Synth::trackSeconds, report.loudnessLufs, report.truePeakDb, report.makeUpGainDb,
                report.deepestLimitingDb, seconds);
    return 0;
}
