// Music against a real PulseAudio server (the null sink of scripts/services.sh): MP3 files made
// with sox and lame are played, the sink's monitor is recorded with parec, and the recording is
// analysed for the tones that went in.
#include "music.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

const std::string workDir = "music_test_files";

bool run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

// A 3 s tone pair, left and right at different pitches, encoded as MP3.
std::string makeToneMp3(const std::string& name, int rate, int channels)
{
    const std::string wav = workDir + "/" + name + ".wav";
    const std::string mp3 = workDir + "/" + name + ".mp3";
    const std::string tones = channels == 2 ? "sine 440 sine 660" : "sine 440";
    if (!run("sox -q -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 " + wav +
             " synth 3 " + tones + " gain -6 && lame --quiet -b 192 " + wav + " " + mp3))
        return {};
    return mp3;
}

long fileSize(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<long>(in.tellg()) : 0;
}

struct Recording {
    std::vector<float> left;
    std::vector<float> right;
};

// Plays `path` through Music while parec records the default sink's monitor.
Recording playAndRecord(const std::string& path, double seconds)
{
    const std::string raw = workDir + "/recording.raw";
    std::remove(raw.c_str());
    const std::string parec = "timeout " + std::to_string(seconds + 4.0) +
        " parec --device=@DEFAULT_MONITOR@ --latency-msec=20 --format=float32le --rate=44100 --channels=2 --raw " + raw + " &";
    run(parec);
    // The monitor streams silence from the start, so a growing file means parec is recording.
    for (int i = 0; i < 100 && fileSize(raw) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        Music music(path.c_str());
        EXPECT_TRUE(music.isPlaying());
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
    // Wait for parec to end by its timeout.
    for (long previous = -1; fileSize(raw) != previous;) {
        previous = fileSize(raw);
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }

    Recording recording;
    std::ifstream in(raw, std::ios::binary);
    float frame[2];
    while (in.read(reinterpret_cast<char*>(frame), sizeof frame)) {
        recording.left.push_back(frame[0]);
        recording.right.push_back(frame[1]);
    }
    return recording;
}

double rms(const std::vector<float>& samples, size_t begin, size_t end)
{
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i)
        sum += double(samples[i]) * samples[i];
    return end > begin ? std::sqrt(sum / double(end - begin)) : 0.0;
}

// The strongest frequency between 200 and 1000 Hz in the loudest half second.
double dominantFrequency(const std::vector<float>& samples)
{
    const size_t window = 22050;
    if (samples.size() < window)
        return 0.0;
    size_t best = 0;
    double bestLevel = -1.0;
    for (size_t start = 0; start + window <= samples.size(); start += window / 4) {
        const double level = rms(samples, start, start + window);
        if (level > bestLevel)
            bestLevel = level, best = start;
    }
    double bestFrequency = 0.0;
    double bestPower = -1.0;
    for (double frequency = 200.0; frequency <= 1000.0; frequency += 1.0) {
        double re = 0.0;
        double im = 0.0;
        const double step = 2.0 * M_PI * frequency / 44100.0;
        for (size_t i = 0; i < window; ++i) {
            re += samples[best + i] * std::cos(step * double(i));
            im += samples[best + i] * std::sin(step * double(i));
        }
        const double power = re * re + im * im;
        if (power > bestPower)
            bestPower = power, bestFrequency = frequency;
    }
    return bestFrequency;
}

class MusicTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        run("mkdir -p " + workDir);
        ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr) << "run through scripts/services.sh";
    }
};

TEST_F(MusicTest, StereoTrackReachesTheSinkWithItsTonesOnTheRightChannels)
{
    const std::string mp3 = makeToneMp3("stereo44100", 44100, 2);
    ASSERT_FALSE(mp3.empty());
    const Recording recording = playAndRecord(mp3, 2.0);
    ASSERT_GT(recording.left.size(), 44100u) << "parec recorded less than a second";
    EXPECT_GT(rms(recording.left, 0, recording.left.size()), 0.01);
    EXPECT_NEAR(dominantFrequency(recording.left), 440.0, 3.0);
    EXPECT_NEAR(dominantFrequency(recording.right), 660.0, 3.0);
}

TEST_F(MusicTest, MonoAnd48kHzFilesPlayAtTheirOwnPitch)
{
    const std::string mono = makeToneMp3("mono44100", 44100, 1);
    ASSERT_FALSE(mono.empty());
    const Recording monoRecording = playAndRecord(mono, 2.0);
    EXPECT_NEAR(dominantFrequency(monoRecording.left), 440.0, 3.0);
    EXPECT_NEAR(dominantFrequency(monoRecording.right), 440.0, 3.0);

    // Played unconverted, a 48 kHz file would come out 8 % low (404 and 606 Hz).
    const std::string fast = makeToneMp3("stereo48000", 48000, 2);
    ASSERT_FALSE(fast.empty());
    const Recording fastRecording = playAndRecord(fast, 2.0);
    EXPECT_NEAR(dominantFrequency(fastRecording.left), 440.0, 3.0);
    EXPECT_NEAR(dominantFrequency(fastRecording.right), 660.0, 3.0);
}

TEST_F(MusicTest, UnplayableFilesGiveSilenceQuietly)
{
    const std::string good = makeToneMp3("source", 44100, 2);
    ASSERT_FALSE(good.empty());
    const std::string empty = workDir + "/empty.mp3";
    const std::string truncated = workDir + "/truncated.mp3";
    const std::string noise = workDir + "/noise.mp3";
    std::ofstream(empty, std::ios::binary).close();
    ASSERT_TRUE(run("head -c 200 " + good + " > " + truncated));
    {
        std::mt19937 random(12345);
        std::ofstream out(noise, std::ios::binary);
        for (int i = 0; i < 64 * 1024; ++i)
            out.put(static_cast<char>(random() & 0xFF));
    }

    for (const std::string& path : {workDir + "/missing.mp3", empty, truncated, noise}) {
        SCOPED_TRACE(path);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        {
            Music music(path.c_str());
            EXPECT_FALSE(music.isPlaying());
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
}

TEST_F(MusicTest, WithoutAnAudioServerConstructionAndDestructionReturnQuietly)
{
    const std::string mp3 = makeToneMp3("noserver", 44100, 2);
    ASSERT_FALSE(mp3.empty());
    const std::string saved = std::getenv("PULSE_SERVER");
    setenv("PULSE_SERVER", "unix:/nonexistent/demo-test-socket", 1);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        Music music(mp3.c_str());
        EXPECT_FALSE(music.isPlaying());
    }
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    setenv("PULSE_SERVER", saved.c_str(), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
}

} // namespace
