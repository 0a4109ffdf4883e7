// Music against a real PulseAudio server (a null sink of the test's own): MP3 files made
// with sox and lame are played, the sink's monitor is recorded with parec, and the recording is
// analysed for the tones that went in.
#include "music/music.h"
#include "music/music_decoder.h"
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// Whether the Music's output opens: it is opened on a thread of the Music's own, so this waits
// (a minute at most) until it plays or is known to be missing.
bool opensOutput(const Music& music)
{
    for (const double end = DemoTest::now() + 60.0; DemoTest::now() < end && !music.isPlaying() && !music.outputMissing();)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return music.isPlaying();
}

// The suite's own audio server, defined with the suite below: whether it answers, and a new one
// in its place.
bool audioServerAnswers();
void replaceAudioServer();

// Plays `path` through Music while parec records the default sink's monitor: for `seconds`, or
// while `act` (when given) works the player. `started`: whether the Music started.
Recording playAndRecordOnce(const std::string& path, double seconds, float startSeconds,
                            const std::function<void(Music&)>& act, bool& started)
{
    // Named by process: ctest may run several of these suites at once in the same folder.
    const std::string raw = workDir + "/recording-" + std::to_string(getpid()) + ".raw";
    std::remove(raw.c_str());
    DemoTest::DemoProcess recorder({"parec", "--device=@DEFAULT_MONITOR@", "--latency-msec=20", "--format=float32le",
                                    "--rate=44100", "--channels=2", "--raw", raw});
    // The monitor streams silence from the start, so a growing file means parec is recording.
    for (int i = 0; i < 100 && fileSize(raw) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        Music music(path.c_str(), startSeconds);
        started = opensOutput(music);
        if (act) {
            act(music);
        } else if (started) {
            // Until `seconds` of the track have been heard, or all of it (nothing heard for half
            // a second after it was), however late the output starts on a loaded machine.
            bool heardAny = false;
            double silentSince = DemoTest::now();
            for (const double end = DemoTest::now() + seconds + 60.0; DemoTest::now() < end;
                 std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
                const std::optional<double> heard = music.heardSeconds();
                if (heard && *heard >= double(startSeconds) + seconds)
                    break;
                if (heard)
                    heardAny = true, silentSince = DemoTest::now();
                else if (heardAny && DemoTest::now() - silentSince > 0.5)
                    break;
            }
        }
    }
    // The tail of the sound is still on its way through the server: until the recording holds a
    // third of a second more than when the music ended.
    const long ended = fileSize(raw);
    for (int i = 0; i < 1000 && fileSize(raw) < ended + 44100 / 3 * 8; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    recorder.signal(SIGTERM);
    recorder.wait(10.0);

    Recording recording;
    {
        std::ifstream in(raw, std::ios::binary);
        float frame[2];
        while (in.read(reinterpret_cast<char*>(frame), sizeof frame)) {
            recording.left.push_back(frame[0]);
            recording.right.push_back(frame[1]);
        }
    }
    std::remove(raw.c_str());
    return recording;
}

Recording playAndRecord(const std::string& path, double seconds, float startSeconds = 0.0f,
                        const std::function<void(Music&)>& act = nullptr)
{
    bool started = false;
    Recording recording = playAndRecordOnce(path, seconds, startSeconds, act, started);
    if (!started && !audioServerAnswers()) {
        // The suite's server died under it, which is the test's own fixture failing, not Music:
        // it is replaced once and the track played again.
        replaceAudioServer();
        recording = playAndRecordOnce(path, seconds, startSeconds, act, started);
    }
    EXPECT_TRUE(started) << "the audio server " << (audioServerAnswers() ? "answers" : "does not answer");
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

// Power of one frequency in samples[begin, end), normalised to the window length.
double tonePower(const std::vector<float>& samples, size_t begin, size_t end, double frequency)
{
    double re = 0.0;
    double im = 0.0;
    const double step = 2.0 * M_PI * frequency / 44100.0;
    for (size_t i = begin; i < end; ++i) {
        re += samples[i] * std::cos(step * double(i - begin));
        im += samples[i] * std::sin(step * double(i - begin));
    }
    const double n = double(end - begin);
    return (re * re + im * im) / (n * n);
}

// Seconds of the recording, in 20 ms windows, in which `frequency` is the stronger of the two.
double secondsOfTone(const std::vector<float>& samples, double frequency, double other)
{
    const size_t window = 882;
    size_t windows = 0;
    for (size_t start = 0; start + window <= samples.size(); start += window) {
        const double power = tonePower(samples, start, start + window, frequency);
        if (power > 1e-4 && power > 10.0 * tonePower(samples, start, start + window, other))
            ++windows;
    }
    return double(windows) * double(window) / 44100.0;
}

// Runs `work` on a thread of its own and waits for it at most `limit` seconds. Returns the
// seconds it took, or a negative number when it was still running at the limit; it is then left
// to run, since a test cannot end it, and the test fails instead of hanging.
// Waits until `seconds` of the track have been heard; false when they were not within a minute.
bool heardFor(const Music& music, double seconds)
{
    for (const double end = DemoTest::now() + 60.0; DemoTest::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (music.heardSeconds().value_or(0.0) >= seconds)
            return true;
    return false;
}

double secondsTaken(const std::function<void()>& work, double limit)
{
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto* shared = new Shared;
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([shared, work] {
        work();
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->finished = true;
        shared->done.notify_one();
    });
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->done.wait_for(lock, std::chrono::duration<double>(limit), [shared] { return shared->finished; })) {
        worker.detach(); // `shared` stays with it
        return -1.0;
    }
    lock.unlock();
    worker.join();
    delete shared;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A number field of /proc/self/status ("Threads:", "VmRSS:" in KiB), or -1.
long statusField(const std::string& name)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(name, 0) == 0)
            return std::stol(line.substr(name.size()));
    return -1;
}

int threadCount() { return static_cast<int>(statusField("Threads:")); }
long residentKiB() { return statusField("VmRSS:"); }

// A private PulseAudio server that this process's own clients reach while it lives.
class PrivateAudioServer : public DemoTest::PrivateAudioServer {
public:
    PrivateAudioServer()
        : saved(std::getenv("PULSE_SERVER") != nullptr ? std::getenv("PULSE_SERVER") : "")
    {
        setenv("PULSE_SERVER", address.c_str(), 1);
    }
    ~PrivateAudioServer()
    {
        stop(SIGKILL);
        setenv("PULSE_SERVER", saved.c_str(), 1);
    }

private:
    std::string saved;
};

class MusicTest : public ::testing::Test {
protected:
    // Each test process plays into a null sink of its own: recordings of the sink's monitor
    // hear only this process, however many suites run at once.
    static void SetUpTestSuite()
    {
        run("mkdir -p " + workDir);
        server = std::make_unique<PrivateAudioServer>();
        ASSERT_TRUE(server->ready) << "could not start pulseaudio";
    }
    static void TearDownTestSuite() { server.reset(); }

public:
    static std::unique_ptr<PrivateAudioServer> server;
};
std::unique_ptr<PrivateAudioServer> MusicTest::server;

bool audioServerAnswers() { return run("pactl info >/dev/null 2>&1"); }

void replaceAudioServer()
{
    const DemoTest::Exit ended = MusicTest::server->finish(0.5);
    std::printf("the suite's audio server stopped answering (%s); a new one takes its place\n",
                ended.exited ? ("it ended with status " + std::to_string(ended.status)).c_str() : "it hung");
    std::fflush(stdout);
    MusicTest::server.reset();
    MusicTest::server = std::make_unique<PrivateAudioServer>();
}

// Plays a generated tone file (440 Hz left, 660 Hz right in stereo) for two seconds and
// checks the pitch heard on each channel.
Recording expectTones(const char* name, int rate, int channels, double leftHz, double rightHz)
{
    const std::string mp3 = makeToneMp3(name, rate, channels);
    if (mp3.empty()) {
        ADD_FAILURE() << "could not make " << name;
        return {};
    }
    const Recording recording = playAndRecord(mp3, 2.0);
    EXPECT_NEAR(dominantFrequency(recording.left), leftHz, 3.0) << name;
    EXPECT_NEAR(dominantFrequency(recording.right), rightHz, 3.0) << name;
    return recording;
}

TEST_F(MusicTest, StereoTrackReachesTheSinkWithItsTonesOnTheRightChannels)
{
    const Recording recording = expectTones("stereo44100", 44100, 2, 440.0, 660.0);
    ASSERT_GT(recording.left.size(), 44100u) << "parec recorded less than a second";
    EXPECT_GT(rms(recording.left, 0, recording.left.size()), 0.01);
}

TEST_F(MusicTest, MonoAnd48kHzFilesPlayAtTheirOwnPitch)
{
    expectTones("mono44100", 44100, 1, 440.0, 440.0);
    // Played unconverted, a 48 kHz file would come out 8 % low (404 and 606 Hz).
    expectTones("stereo48000", 48000, 2, 440.0, 660.0);
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
            EXPECT_FALSE(music.heardSeconds()) << "nothing plays, nothing is heard";
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
        EXPECT_FALSE(opensOutput(music));
        EXPECT_TRUE(music.outputMissing());
        EXPECT_FALSE(music.heardSeconds());
    }
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    setenv("PULSE_SERVER", saved.c_str(), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
}

} // namespace

namespace {

TEST_F(MusicTest, StartOffsetSkipsIntoTheTrackAtTheOutputRate)
{
    // 2 s at 440 Hz, then 1 s at 880 Hz, at 48 kHz so that the offset must be taken at the
    // output rate (44100 frames a second), not at the file's own.
    const std::string first = workDir + "/offset-a.wav";
    const std::string second = workDir + "/offset-b.wav";
    const std::string wav = workDir + "/offset.wav";
    const std::string mp3 = workDir + "/offset.mp3";
    ASSERT_TRUE(run("sox -q -n -r 48000 -c 2 -b 16 " + first + " synth 2 sine 440 gain -6 && sox -q -n -r 48000 -c 2 -b 16 " +
                    second + " synth 1 sine 880 gain -6 && sox -q " + first + " " + second + " " + wav +
                    " && lame --quiet -b 192 " + wav + " " + mp3));

    const Recording recording = playAndRecord(mp3, 2.5, 1.25f);
    ASSERT_GT(recording.left.size(), 44100u);
    EXPECT_NEAR(secondsOfTone(recording.left, 440.0, 880.0), 0.75, 0.06);
    EXPECT_NEAR(secondsOfTone(recording.right, 880.0, 440.0), 1.0, 0.06);

    // A start past the end plays silence on a running device.
    const Recording beyond = playAndRecord(mp3, 1.0, 30.0f, [](Music& music) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_FALSE(music.heardSeconds()) << "a start past the end is heard";
    });
    ASSERT_GT(beyond.left.size(), 22050u);
    EXPECT_LT(rms(beyond.left, 0, beyond.left.size()), 1e-4);
    EXPECT_LT(rms(beyond.right, 0, beyond.right.size()), 1e-4);
}

// A seek plays from where it asks and a pause is silence, each acted on by the audio thread:
// 440 Hz for 2 s, then 880 Hz for 1 s. Played from 0 and sent at 0.5 s to 2 s (1 s of 880 Hz,
// then the track's end), paused and sent back to 0.5 s, then resumed (1.5 s of 440 Hz, 1 s of
// 880 Hz): 2 s of each.
TEST_F(MusicTest, SeeksAndPausesPlayFromWhereTheyAsk)
{
    const std::string first = workDir + "/seek-a.wav", second = workDir + "/seek-b.wav";
    const std::string wav = workDir + "/seek.wav", mp3 = workDir + "/seek.mp3";
    ASSERT_TRUE(run("sox -q -n -r 44100 -c 2 -b 16 " + first + " synth 2 sine 440 gain -6 && sox -q -n -r 44100 -c 2 -b 16 " +
                    second + " synth 1 sine 880 gain -6 && sox -q " + first + " " + second + " " + wav +
                    " && lame --quiet -b 192 " + wav + " " + mp3));
    // Each step waits for what the audio thread has played, not for the wall clock, so that a
    // loaded machine (a late audio thread) changes nothing heard.
    const auto wait = [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); };
    const auto waitUntil = [](const std::function<bool()>& done) {
        for (int i = 0; i < 3000 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(done()) << "the music never got there";
    };
    // The end is heard once its last stretch was (a late audio thread's stale position also
    // reads as nothing heard, and must not pass for the end).
    const auto waitForTheEnd = [&](Music& music) {
        waitUntil([&] { return music.heardSeconds().value_or(0.0) >= 2.95; });
        waitUntil([&] { return !music.heardSeconds(); });
    };
    std::vector<double> heldAt;
    const Recording recording = playAndRecord(mp3, 0.0, 0.0f, [&](Music& music) {
        waitUntil([&] { return music.heardSeconds().value_or(0.0) >= 0.5; });
        music.seek(2.0f);
        heldAt.push_back(music.heardSeconds().value_or(-1.0)); // the target, until it is heard
        waitForTheEnd(music);
        music.pause();
        music.seek(0.5f);
        wait(0.7);
        heldAt.push_back(music.heardSeconds().value_or(-1.0)); // held there while paused
        music.resume();
        waitForTheEnd(music);
    });
    EXPECT_EQ(heldAt, (std::vector<double>{2.0, 0.5}));
    ASSERT_GT(recording.left.size(), 4 * 44100u);
    EXPECT_NEAR(secondsOfTone(recording.left, 440.0, 880.0), 2.0, 0.1);
    EXPECT_NEAR(secondsOfTone(recording.left, 880.0, 440.0), 2.0, 0.1);
}

TEST_F(MusicTest, DestructionEndsWhenTheAudioServerDiesOrStopsAnswering)
{
    const std::string mp3 = makeToneMp3("server", 44100, 2);
    ASSERT_FALSE(mp3.empty());
    const int threadsBefore = threadCount();

    {
        // The server dies mid-show: the device is stopped and released as usual, at once.
        PrivateAudioServer server;
        ASSERT_TRUE(server.ready) << "could not start pulseaudio";
        auto* music = new Music(mp3.c_str());
        EXPECT_TRUE(opensOutput(*music));
        EXPECT_TRUE(heardFor(*music, 0.3)) << "the music was never heard";
        server.stop(SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const double seconds = secondsTaken([music] { delete music; }, 5.0);
        EXPECT_GE(seconds, 0.0) << "destruction hangs after the server died";
        EXPECT_LT(seconds, 0.4) << "a dead server's device is released without waiting out the limit";
    }
    EXPECT_EQ(threadCount(), threadsBefore);

    {
        // The server stops answering (frozen): destruction gives up within its limit, and the
        // closing thread finishes the release once the server is gone for good.
        PrivateAudioServer server;
        ASSERT_TRUE(server.ready) << "could not start pulseaudio";
        auto* music = new Music(mp3.c_str());
        EXPECT_TRUE(opensOutput(*music));
        EXPECT_TRUE(heardFor(*music, 0.3)) << "the music was never heard";
        server.signal(SIGSTOP);
        const double seconds = secondsTaken([music] { delete music; }, 5.0);
        EXPECT_GE(seconds, 0.0) << "destruction hangs while the server is frozen";
        EXPECT_LT(seconds, 1.0);
        server.stop(SIGKILL);
    }
    for (int i = 0; i < 100 && threadCount() != threadsBefore; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(threadCount(), threadsBefore) << "the abandoned device's threads never ended";
}

TEST_F(MusicTest, OnlyRegularFilesAreOpenedAndBigOnesAreStreamed)
{
    // A directory and a named pipe without a writer count as missing; opening the pipe would
    // block for good.
    const std::string directory = workDir + "/directory.mp3";
    const std::string pipe = workDir + "/pipe.mp3";
    run("mkdir -p " + directory);
    std::remove(pipe.c_str());
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    for (const std::string& path : {directory, pipe}) {
        SCOPED_TRACE(path);
        bool playing = true;
        const double seconds = secondsTaken([&path, &playing] {
            Music music(path.c_str());
            playing = music.isPlaying();
        }, 5.0);
        ASSERT_GE(seconds, 0.0) << "construction blocks";
        EXPECT_FALSE(playing);
    }

    // A 400 MB file: a real track followed by a sparse hole, made in no time. Playing it costs
    // no more memory than a small file does.
    const std::string source = makeToneMp3("bighead", 44100, 2);
    ASSERT_FALSE(source.empty());
    const std::string big = workDir + "/big.mp3";
    ASSERT_TRUE(run("cp " + source + " " + big + " && truncate -s 400M " + big));
    const long before = residentKiB();
    {
        Music music(big.c_str());
        EXPECT_TRUE(opensOutput(music));
        EXPECT_TRUE(heardFor(music, 0.5)) << "the music was never heard";
        EXPECT_LT(residentKiB() - before, 16 * 1024) << "the file is read into memory";
    }
    std::remove(big.c_str());
}

} // namespace

namespace {

std::vector<char> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every input the fuzz target ever failed on, then headers that lie about the stream: whatever
// they claim, decoding ends with no more audio than the frames really hold. The sanitizer build
// checks the memory accesses on the way.
TEST(MusicDecoderTest, KeptFuzzFindingsAndLyingHeadersDecodeSafely)
{
    for (const auto& entry : std::filesystem::directory_iterator(MUSIC_FUZZ_REGRESSIONS)) {
        if (entry.path().filename().string().front() == '.')
            continue;
        SCOPED_TRACE(entry.path().string());
        const std::vector<char> bytes = readBytes(entry.path().string());
        decodeMusicMemory(bytes.data(), bytes.size());
    }

    run("mkdir -p " + workDir);
    const std::string mp3 = workDir + "/headers.mp3";
    ASSERT_TRUE(run("sox -q -n -r 44100 -c 2 -b 16 " + workDir + "/headers.wav synth 0.3 sine 440 && lame --quiet -b 128 --add-id3v2 --tt t " +
                    workDir + "/headers.wav " + mp3));
    const std::vector<char> original = readBytes(mp3);
    ASSERT_GT(original.size(), 600u);
    const ma_uint64 frames = decodeMusicMemory(original.data(), original.size());
    EXPECT_NEAR(double(frames), 0.3 * 44100.0, 2304.0);

    // The ID3v2 size (synch-safe, bytes 6 to 9), and in the encoder's Info frame, found by
    // its tag, the frame count and the LAME tag's delay and padding.
    const size_t firstFrame = 10 + ((size_t(original[6]) << 21) | (size_t(original[7]) << 14) | (size_t(original[8]) << 7) | size_t(original[9]));
    const size_t info = std::string(original.begin(), original.end()).find("Info", firstFrame);
    ASSERT_NE(info, std::string::npos);
    const size_t lame = info + 120;
    ASSERT_EQ(std::string(&original[lame], 4), "LAME");
    struct Lie {
        size_t offset;
        std::vector<char> bytes;
    };
    const std::vector<Lie> lies = {
        {6, {0x7f, 0x7f, 0x7f, 0x7f}},
        {info + 8, {-1, -1, -1, -1}},
        {info + 8, {0, 0, 0, 0}},
        {lame + 21, {-1, -1, -1}},
    };
    for (const Lie& lie : lies) {
        SCOPED_TRACE(lie.offset);
        std::vector<char> bytes = original;
        std::copy(lie.bytes.begin(), lie.bytes.end(), bytes.begin() + long(lie.offset));
        EXPECT_LE(decodeMusicMemory(bytes.data(), bytes.size()), frames);
        // Cut off inside the first audio frame after the Info frame.
        bytes.resize(info + 500);
        EXPECT_LE(decodeMusicMemory(bytes.data(), bytes.size()), frames);
    }
}

} // namespace
