#include "click_track.h"

#include "music/music_decoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <sys/stat.h>

namespace TestSupport {

namespace {

constexpr double rate = 44100.0;

long fileBytes(const std::string& path)
{
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? static_cast<long>(status.st_size) : 0;
}

// `seconds` of silence with a click of `clickLength` samples every `interval`, its pitch the
// second's, as an MP3 made by lame.
std::string makeTrack(const std::string& folder, const std::string& name, double seconds, double interval,
                      int clickLength, double (*pitchAt)(int second))
{
    const std::string wav = folder + "/" + name + ".wav", mp3 = folder + "/" + name;
    const int frames = static_cast<int>(seconds * rate);
    std::vector<short> pcm(static_cast<size_t>(frames) * 2, 0);
    for (int i = 0; i < frames; ++i) {
        const int into = i % static_cast<int>(interval * rate);
        const double pitch = pitchAt(static_cast<int>(i / rate));
        if (into < clickLength)
            pcm[2 * i] = pcm[2 * i + 1] = static_cast<short>(20000.0 * std::sin(2.0 * M_PI * pitch * into / rate));
    }
    {
        std::ofstream out(wav, std::ios::binary);
        const auto put32 = [&out](unsigned value) { out.write(reinterpret_cast<const char*>(&value), 4); };
        const auto put16 = [&out](unsigned short value) { out.write(reinterpret_cast<const char*>(&value), 2); };
        const unsigned bytes = static_cast<unsigned>(pcm.size() * 2);
        out.write("RIFF", 4), put32(36 + bytes), out.write("WAVEfmt ", 8), put32(16), put16(1), put16(2);
        put32(44100), put32(44100 * 4), put16(4), put16(16), out.write("data", 4), put32(bytes);
        out.write(reinterpret_cast<const char*>(pcm.data()), bytes);
    }
    const bool made = std::system(("lame --quiet -b 192 " + wav + " " + mp3).c_str()) == 0;
    std::remove(wav.c_str());
    return made ? mp3 : std::string();
}

constexpr int pitchedClickLength = 353;

double pitchOfSecond(int second)
{
    return 1000.0 + 500.0 * (second % 8);
}

// The power of `pitch` in `length` samples from `begin` (Goertzel).
double power(const std::vector<short>& pcm, size_t begin, int length, double pitch)
{
    const double k = 2.0 * std::cos(2.0 * M_PI * pitch / rate);
    double s1 = 0.0, s2 = 0.0;
    for (int i = 0; i < length && 2 * (begin + i) < pcm.size(); ++i) {
        const double s0 = pcm[2 * (begin + i)] + k * s1 - s2;
        s2 = s1, s1 = s0;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

} // namespace

std::string makeClickTrack(const std::string& folder, const std::string& name, double seconds)
{
    return makeTrack(folder, name, seconds, clickInterval, 176, [](int) { return 1500.0; });
}

std::string makePitchedClickTrack(const std::string& folder, const std::string& name, double seconds)
{
    return makeTrack(folder, name, seconds, pitchedClickInterval, pitchedClickLength, pitchOfSecond);
}

std::vector<double> clickPositions(const std::string& mp3)
{
    std::vector<double> clicks;
    ma_decoder decoder;
    if (openMusicFile(mp3.c_str(), decoder) != MA_SUCCESS)
        return clicks;
    std::vector<float> frames(4096 * 2);
    long long at = 0, last = -1000000;
    for (;;) {
        ma_uint64 read = 0;
        ma_decoder_read_pcm_frames(&decoder, frames.data(), 4096, &read);
        for (ma_uint64 i = 0; i < read; ++i, ++at)
            if (std::fabs(frames[2 * i]) > 0.3f && at - last > 4410)
                clicks.push_back(double(at) / rate), last = at;
        if (read < 4096)
            break;
    }
    ma_decoder_uninit(&decoder);
    return clicks;
}

SinkRecorder::SinkRecorder(const std::string& server, std::string file)
    : path(std::move(file))
{
    std::remove(path.c_str());
    recorder = std::make_unique<DemoTest::DemoProcess>(std::vector<std::string>{
        "env", "PULSE_SERVER=" + server, "parec", "--device=@DEFAULT_MONITOR@", "--latency-msec=5", "--format=s16le",
        "--rate=44100", "--channels=2", "--raw", path});
    // The monitor streams silence from the start, so a growing file means parec is recording.
    for (int i = 0; i < 400 && fileBytes(path) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    started = fileBytes(path) > 0;
}

SinkRecorder::~SinkRecorder()
{
    std::remove(path.c_str());
}

void SinkRecorder::poll()
{
    const long frames = fileBytes(path) / 4;
    if (polls.empty() || frames > polls.back().frames)
        polls.push_back({DemoTest::now(), frames});
}

std::vector<double> SinkRecorder::finish()
{
    std::vector<double> walls;
    for (const HeardClick& click : heard(false))
        walls.push_back(click.wall);
    return walls;
}

std::vector<HeardClick> SinkRecorder::finishPitched()
{
    return heard(true);
}

std::vector<HeardClick> SinkRecorder::heard(bool pitched)
{
    poll();
    recorder->signal(SIGTERM);
    recorder->wait(10.0);
    std::vector<HeardClick> clicks;
    if (polls.empty())
        return clicks;
    // The earliest bound on sample n's time, among the polls that saw it or anything after it.
    std::vector<double> base(polls.size());
    double earliest = 1e300;
    for (size_t k = polls.size(); k-- > 0;)
        base[k] = earliest = std::min(earliest, polls[k].wall - double(polls[k].frames) / rate);

    std::vector<short> pcm(static_cast<size_t>(polls.back().frames) * 2);
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(pcm.data()), static_cast<long>(pcm.size() * 2));
    size_t poll = 0;
    for (size_t n = 0, last = 0; 2 * n + 1 < pcm.size(); ++n) {
        if (std::abs(pcm[2 * n]) < 8000 || (last != 0 && n - last < 4410))
            continue;
        last = n;
        while (poll < polls.size() && polls[poll].frames <= static_cast<long>(n))
            ++poll;
        if (poll == polls.size())
            break;
        int second = -1;
        if (pitched) {
            second = 0;
            for (int s = 1; s < 8; ++s)
                if (power(pcm, n, pitchedClickLength, pitchOfSecond(s)) >
                    power(pcm, n, pitchedClickLength, pitchOfSecond(second)))
                    second = s;
        }
        clicks.push_back({base[poll] + double(n) / rate, second});
    }
    return clicks;
}

std::vector<double> heardLessSeen(const std::vector<double>& clickWalls, const std::vector<double>& clicks,
                                  const PictureTime& pictureAt, double from, double to)
{
    std::vector<double> offsets;
    if (clicks.empty())
        return offsets;
    for (const double wall : clickWalls) {
        if (wall < from || wall > to)
            continue;
        const double t = pictureAt(wall);
        if (t < 0.0)
            continue;
        const double click = *std::min_element(clicks.begin(), clicks.end(), [t](double a, double b) {
            return std::fabs(a - t) < std::fabs(b - t);
        });
        offsets.push_back(click - t);
    }
    return offsets;
}

std::vector<double> heardLessSeen(const std::vector<HeardClick>& heard, const std::vector<double>& clicks,
                                  const PictureTime& pictureAt, double from, double to)
{
    std::vector<double> offsets;
    for (const HeardClick& click : heard) {
        if (click.wall < from || click.wall > to)
            continue;
        const double t = pictureAt(click.wall);
        if (t < 0.0)
            continue;
        double nearest = 1e300;
        for (size_t i = 0; i < clicks.size(); ++i)
            if (static_cast<int>(double(i) * pitchedClickInterval) % 8 == click.second &&
                std::fabs(clicks[i] - t) < std::fabs(nearest - t))
                nearest = clicks[i];
        if (nearest < 1e300)
            offsets.push_back(nearest - t);
    }
    return offsets;
}

} // namespace TestSupport
