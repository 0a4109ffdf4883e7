// Measurements of the soundtrack the build placed next to the demo: its format as the
// demo's audio library decodes it, its loudness as ffmpeg's EBU R128 meter reads it, its
// shape against the show's landmarks, and that the build makes the same bytes every time.

#include "ebur128.h"

#include <miniaudio.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double showSeconds = 86.4;
constexpr double barSeconds = 2.4;
constexpr double dropSeconds = 48.0;
constexpr double peakSeconds = 67.2;
constexpr double lastShotSeconds = 76.8;

struct DecodedTrack {
    ma_format format = ma_format_unknown;
    ma_uint32 channels = 0;
    ma_uint32 sampleRate = 0;
    std::vector<float> samples;  // interleaved

    size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
    double seconds() const { return sampleRate == 0 ? 0.0 : static_cast<double>(frames()) / sampleRate; }

    // Mean power of all channels over [from, to) seconds, in dB relative to full scale.
    double levelDb(double from, double to) const
    {
        size_t first = static_cast<size_t>(from * sampleRate) * channels;
        size_t last = std::min(static_cast<size_t>(to * sampleRate) * channels, samples.size());
        double sum = 0.0;
        for (size_t i = first; i < last; ++i)
            sum += static_cast<double>(samples[i]) * samples[i];
        return 10.0 * std::log10(sum / static_cast<double>(std::max<size_t>(last - first, 1)) + 1e-20);
    }
};

// Decodes the file as the demo does: no decoder configuration, so the stream's own format.
std::unique_ptr<DecodedTrack> decode(const char* path)
{
    ma_decoder decoder;
    if (ma_decoder_init_file(path, nullptr, &decoder) != MA_SUCCESS)
        return nullptr;
    auto track = std::make_unique<DecodedTrack>();
    ma_decoder_get_data_format(&decoder, &track->format, &track->channels, &track->sampleRate, nullptr, 0);
    if (track->format == ma_format_f32 && track->channels > 0) {
        const ma_uint64 chunkFrames = 4096;
        std::vector<float> chunk(chunkFrames * track->channels);
        for (;;) {
            ma_uint64 read = 0;
            ma_result result = ma_decoder_read_pcm_frames(&decoder, chunk.data(), chunkFrames, &read);
            track->samples.insert(track->samples.end(), chunk.begin(), chunk.begin() + read * track->channels);
            if (result != MA_SUCCESS || read == 0)
                break;
        }
    }
    ma_decoder_uninit(&decoder);
    return track;
}

std::vector<char> readBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class Soundtrack : public ::testing::Test {
protected:
    static void SetUpTestSuite() { track = decode(SOUNDTRACK_MP3); }
    static void TearDownTestSuite() { track.reset(); }

    void SetUp() override
    {
        ASSERT_NE(track, nullptr) << "miniaudio cannot open " << SOUNDTRACK_MP3;
        ASSERT_GT(track->frames(), 0u) << "no audio decoded from " << SOUNDTRACK_MP3;
    }

    static std::unique_ptr<DecodedTrack> track;
};

std::unique_ptr<DecodedTrack> Soundtrack::track;

TEST_F(Soundtrack, DecodesAsTheStereo44100HzFloatStreamTheDemoPlays)
{
    EXPECT_EQ(track->format, ma_format_f32);
    EXPECT_EQ(track->channels, 2u);
    EXPECT_EQ(track->sampleRate, 44100u);
    EXPECT_NEAR(track->seconds(), showSeconds, 0.1);
}

TEST(SoundtrackLoudness, IntegratedLoudnessAndTruePeakAsFfmpegMeasuresThem)
{
    LoudnessSummary summary = measureWithFfmpeg(SOUNDTRACK_MP3);
    ASSERT_FALSE(std::isnan(summary.integratedLufs)) << "no ebur128 summary from " << FFMPEG_EXECUTABLE;
    ASSERT_FALSE(std::isnan(summary.truePeakDbfs));
    EXPECT_NEAR(summary.integratedLufs, -14.0, 1.5);
    EXPECT_LT(summary.truePeakDbfs, -1.0);
}

TEST_F(Soundtrack, EnergyJumpsAtTheDropAndAtThePeak)
{
    for (double t : {dropSeconds, peakSeconds}) {
        double before = track->levelDb(t - barSeconds, t);
        double after = track->levelDb(t, t + barSeconds);
        EXPECT_GE(after - before, 4.0) << "bar before " << t << " s: " << before << " dB, bar after: " << after << " dB";
    }
}

TEST_F(Soundtrack, EveryPolytopeLandingIsMarkedByARiseInLevel)
{
    // Polytope j comes to rest at 4.8 * (j + 4) s.
    const double window = 0.2;
    for (int j = 0; j < 7; ++j) {
        double t = 4.8 * (j + 4);
        double before = track->levelDb(t - window, t);
        double after = track->levelDb(t, t + window);
        EXPECT_GE(after - before, 3.0) << "landing at " << t << " s: " << before << " dB before, " << after << " dB after";
    }
}

TEST_F(Soundtrack, FadesWithTheLastShotToNearSilence)
{
    // The picture fades from 76.8 s; each of its bars is well below the one before.
    double previous = track->levelDb(lastShotSeconds, lastShotSeconds + barSeconds);
    for (double bar = lastShotSeconds + barSeconds; bar < showSeconds - 1e-6; bar += barSeconds) {
        double level = track->levelDb(bar, bar + barSeconds);
        EXPECT_LT(level, previous - 10.0) << "bar from " << bar << " s";
        previous = level;
    }
    EXPECT_LT(track->levelDb(showSeconds - 0.5, showSeconds), -60.0);
    EXPECT_LT(track->levelDb(track->seconds() - 0.5, track->seconds()), -60.0);
}

TEST(SoundtrackBuild, RendersAndEncodesTheSameBytesEveryTime)
{
    const std::string wav = "soundtrack_rerender.wav";
    const std::string mp3 = "soundtrack_reencode.mp3";
    std::string render = std::string("\"") + SYNTH_EXECUTABLE + "\" " + wav;
    ASSERT_EQ(std::system(render.c_str()), 0) << render;
    std::vector<char> rendered = readBytes(wav);
    std::vector<char> built = readBytes(SOUNDTRACK_WAV);
    ASSERT_FALSE(built.empty()) << SOUNDTRACK_WAV;
    EXPECT_TRUE(rendered == built) << "a second render differs from " << SOUNDTRACK_WAV;

    std::string encode = std::string("\"") + LAME_EXECUTABLE + "\" " + LAME_OPTIONS + " " + wav + " " + mp3;
    ASSERT_EQ(std::system(encode.c_str()), 0) << encode;
    EXPECT_TRUE(readBytes(mp3) == readBytes(SOUNDTRACK_MP3)) << "re-encoding differs from " << SOUNDTRACK_MP3;
    std::remove(wav.c_str());
    std::remove(mp3.c_str());
}

} // namespace
