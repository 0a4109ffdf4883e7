// The synth's building blocks on their own: its loudness and true-peak meter against
// ffmpeg's, every voice starting and ending at rest, and the mastering chain landing on
// its target under its ceiling whatever it is fed.

#include "ebur128.h"

#include "synth/instruments.h"
#include "synth/mastering.h"
#include "synth/wav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace Synth;

double peakOf(const Bus& bus, size_t first, size_t last)
{
    double peak = 0.0;
    for (size_t n = first; n < last; ++n)
        peak = std::max({peak, std::fabs(static_cast<double>(bus.left[n])), std::fabs(static_cast<double>(bus.right[n]))});
    return peak;
}

TEST(SynthMeter, LoudnessAndTruePeakAgreeWithFfmpeg)
{
    // Loud tones, then faint noise that the relative gate must drop, then silence. The
    // right channel's tone sits at a quarter of the sample rate, 45 degrees off the
    // sample grid: its samples reach only 0.354 while the waveform peaks at 0.5. The
    // tones fade in and out so no edge overshoots.
    Bus bus(frameAt(12.0));
    Rng rng(7);
    for (size_t n = 0; n < bus.frames(); ++n) {
        double t = static_cast<double>(n) / sampleRate;
        if (t < 5.0) {
            double edge = std::min({t / 0.1, (5.0 - t) / 0.1, 1.0});
            double fade = 0.5 - 0.5 * std::cos(pi * edge);
            bus.left[n] = static_cast<float>(fade * (0.3 * std::sin(twoPi * 997.0 * t) + 0.1 * std::sin(twoPi * 150.0 * t)));
            bus.right[n] = static_cast<float>(fade * 0.5 * std::sin(pi / 2.0 * static_cast<double>(n) + pi / 4.0));
        } else if (t < 9.0) {
            bus.left[n] = static_cast<float>(0.005 * rng.bipolar());
            bus.right[n] = static_cast<float>(0.005 * rng.bipolar());
        }
    }
    const std::string path = "synth_meter_test.wav";
    ASSERT_TRUE(writeWav(path, bus));
    LoudnessSummary reference = measureWithFfmpeg(path);
    std::remove(path.c_str());
    ASSERT_FALSE(std::isnan(reference.integratedLufs)) << "no ebur128 summary from " << FFMPEG_EXECUTABLE;

    EXPECT_NEAR(integratedLoudness(bus), reference.integratedLufs, 0.15);
    double truePeakDb = gainToDb(truePeak(bus));
    EXPECT_NEAR(truePeakDb, reference.truePeakDbfs, 0.2);
    EXPECT_NEAR(truePeakDb, gainToDb(0.5), 0.1);
    EXPECT_GT(truePeakDb, gainToDb(peakOf(bus, 0, bus.frames())) + 1.5) << "the peak between samples was missed";
}

TEST(SynthVoices, EveryVoiceStartsAndEndsAtRest)
{
    // A voice that jumps in or is cut off mid-swing clicks; every one must rise from zero
    // and fall back to zero, then stay silent.
    struct Case {
        const char* name;
        std::function<void(const Output&, double)> play;
    };
    const PadTone padTone;
    const std::vector<Case> cases = {
        {"pad", [&](const Output& o, double s) { pad(o, s, 1.0, 57, 0.2, padTone); }},
        {"bass", [](const Output& o, double s) { bass(o, s, 0.3, 38, 0.8, 300, 900); }},
        {"pluck", [](const Output& o, double s) { pluck(o, s, 74, 0.2, 0.3, 1.0); }},
        {"bell", [](const Output& o, double s) { bell(o, s, 86, 0.2, -0.3, 0.5); }},
        {"lead", [](const Output& o, double s) { lead(o, s, 0.8, 74, 0.2); }},
        {"drone", [](const Output& o, double s) { drone(o, s, 1.0, 38, 0.2); }},
        {"wind", [](const Output& o, double s) { wind(o, s, 1.0, 0.3); }},
        {"kick", [](const Output& o, double s) { kick(o, s, 0.7); }},
        {"snare", [](const Output& o, double s) { snare(o, s, 0.5); }},
        {"clap", [](const Output& o, double s) { clap(o, s, 0.5); }},
        {"hat", [](const Output& o, double s) { hat(o, s, 0.1, 0.2, 0.2); }},
        {"crash", [](const Output& o, double s) { crash(o, s, 0.3, 0.5); }},
        {"tom", [](const Output& o, double s) { tom(o, s, 50, 0.5); }},
        {"boom", [](const Output& o, double s) { boom(o, s, 0.5); }},
        {"swell", [](const Output& o, double s) { swell(o, s + 1.0, 1.0, 0.3); }},
        {"riser", [](const Output& o, double s) { riser(o, s, 1.0, 0.3); }},
    };
    const double start = 0.5;
    for (const Case& c : cases) {
        Mix mix(frameAt(12.0));
        c.play(Output{&mix, &mix.steady, 0.0, 0.0}, start);
        const Bus& bus = mix.steady;
        const size_t first = frameAt(start);
        size_t last = bus.frames();
        while (last > 0 && bus.left[last - 1] == 0.0f && bus.right[last - 1] == 0.0f)
            --last;

        EXPECT_EQ(peakOf(bus, 0, first), 0.0) << c.name << " sounds before its start";
        ASSERT_GT(last, first + 10) << c.name << " is silent";
        double peak = peakOf(bus, first, last);
        EXPECT_LE(peakOf(bus, first, first + 2), 0.01 * peak) << c.name << " starts with a jump";
        EXPECT_LE(peakOf(bus, last - 10, last), 0.02 * peak) << c.name << " is cut off";
        EXPECT_LT(last, bus.frames() - frameAt(1.0)) << c.name << " does not end";
    }
}

TEST(SynthMastering, ReachesTheTargetLoudnessUnderTheCeiling)
{
    // Much too hot: thumping 55 Hz bursts with peaks of 3 over a steady chord, so the
    // limiter has real work and the make-up gain must be found around it.
    Bus bus(frameAt(20.0));
    for (size_t n = 0; n < bus.frames(); ++n) {
        double t = static_cast<double>(n) / sampleRate;
        double sinceBeat = std::fmod(t, 0.6);
        double thump = 3.0 * std::sin(twoPi * 55.0 * t) * std::exp(-sinceBeat / 0.12) * std::min(sinceBeat / 0.002, 1.0);
        double chord = 0.1 * (std::sin(twoPi * 220.0 * t) + std::sin(twoPi * 277.2 * t) + std::sin(twoPi * 329.6 * t));
        bus.left[n] = static_cast<float>(thump + chord);
        bus.right[n] = static_cast<float>(thump - chord);
    }
    MasterSettings settings;
    settings.fadeStart = 100.0;  // no fade inside this signal
    MasterReport report = master(bus, settings);

    EXPECT_NEAR(integratedLoudness(bus), settings.targetLufs, 0.05);
    EXPECT_NEAR(report.loudnessLufs, settings.targetLufs, 0.05);
    EXPECT_LE(gainToDb(truePeak(bus)), settings.ceilingDb + 0.01);
    EXPECT_LT(report.deepestLimitingDb, -3.0) << "the test signal should have needed limiting";
    EXPECT_EQ(bus.left.back(), 0.0f);
    EXPECT_EQ(bus.right.back(), 0.0f);
}

} // namespace
