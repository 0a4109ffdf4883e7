#include "recording.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// Mean absolute level over blocks of `block` samples.
std::vector<double> envelope(const float* samples, size_t count, size_t block)
{
    std::vector<double> levels(count / block, 0.0);
    for (size_t b = 0; b < levels.size(); ++b) {
        for (size_t i = b * block; i < (b + 1) * block; ++i)
            levels[b] += std::fabs(samples[i]);
        levels[b] /= double(block);
    }
    return levels;
}

// Pearson's correlation of `a` against `b` starting at `offset`.
template <typename T>
double correlation(const std::vector<T>& a, const T* b)
{
    double meanA = 0.0, meanB = 0.0;
    const size_t n = a.size();
    for (size_t i = 0; i < n; ++i)
        meanA += a[i], meanB += b[i];
    meanA /= double(n), meanB /= double(n);
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double da = a[i] - meanA, db = b[i] - meanB;
        ab += da * db, aa += da * da, bb += db * db;
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

} // namespace

bool loadRecording(const std::string& folder, int width, int height, Recording& recording)
{
    recording.width = width;
    recording.height = height;
    std::ifstream packets(folder + "/packets.csv");
    std::string line;
    std::vector<double> starts; // when sample 0 was, by each audio packet
    long long audioFrames = 0;
    while (std::getline(packets, line)) {
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream fields(line);
        int stream = -1;
        double pts = 0.0;
        long long size = 0;
        if (!(fields >> stream >> pts >> size))
            continue;
        if (stream == 0) {
            recording.frameWall.push_back(pts);
        } else if (stream == 1) {
            starts.push_back(pts - double(audioFrames) / Recording::rate);
            audioFrames += size / 4;
        }
    }
    const std::string video = fileBytes(folder + "/video.gray"), audio = fileBytes(folder + "/audio.raw");
    const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (recording.frameWall.empty() || starts.empty() || frameBytes == 0 ||
        video.size() != recording.frameWall.size() * frameBytes || audio.size() / 4 != size_t(audioFrames)) {
        std::fprintf(stderr, "sync-probe: the recording in %s is incomplete (%zu frames, %zu bytes of video; %lld frames of audio, %zu bytes)\n",
                     folder.c_str(), recording.frameWall.size(), video.size(), audioFrames, audio.size());
        return false;
    }
    recording.pixels.assign(video.begin(), video.end());
    // Each packet's stamp is the recorder's reading of the clock less the latency it was told; the
    // median over the packets leaves out a late start and the odd slow read.
    recording.audioStart = median(starts);
    recording.audio.resize(size_t(audioFrames));
    for (size_t i = 0; i < recording.audio.size(); ++i) {
        std::int16_t left = 0, right = 0;
        std::copy_n(&audio[4 * i], 2, reinterpret_cast<char*>(&left));
        std::copy_n(&audio[4 * i + 2], 2, reinterpret_cast<char*>(&right));
        recording.audio[i] = static_cast<float>((double(left) + double(right)) / 65536.0);
    }
    return true;
}

std::vector<double> flipTimes(const Recording& recording)
{
    std::vector<double> flips;
    const size_t frameBytes = static_cast<size_t>(recording.width) * recording.height;
    bool white = false;
    for (size_t n = 0; n < recording.frameWall.size(); ++n) {
        const unsigned char* f = recording.frame(n);
        double sum = 0.0;
        for (size_t i = 0; i < frameBytes; ++i)
            sum += f[i];
        const bool nowWhite = sum / double(frameBytes) > 127.5;
        if (n > 0 && nowWhite != white)
            flips.push_back(recording.frameWall[n]);
        white = nowWhite;
    }
    return flips;
}

std::vector<double> burstOnsets(const Recording& recording)
{
    std::vector<double> onsets;
    const size_t quiet = static_cast<size_t>(0.05 * Recording::rate);
    size_t quietSince = 0;
    for (size_t i = 0; i < recording.audio.size(); ++i) {
        const float level = std::fabs(recording.audio[i]);
        if (level > 0.1f && i - quietSince >= quiet)
            onsets.push_back(recording.audioStart + double(i) / Recording::rate);
        if (level > 0.01f)
            quietSince = i + 1;
    }
    return onsets;
}

double cutTime(const Recording& recording, double from, double to, const std::vector<Still>& stills, double cut)
{
    const size_t frameBytes = static_cast<size_t>(recording.width) * recording.height;
    const auto afterCut = [&](size_t n) {
        const unsigned char* f = recording.frame(n);
        long nearest = -1;
        double nearestT = 0.0;
        for (const Still& still : stills) {
            if (still.luma.size() != frameBytes)
                continue;
            long difference = 0;
            for (size_t i = 0; i < frameBytes; ++i)
                difference += std::abs(int(f[i]) - int(still.luma[i]));
            if (nearest < 0 || difference < nearest)
                nearest = difference, nearestT = still.t;
        }
        return nearest >= 0 && nearestT >= cut;
    };
    double at = -1.0;
    bool previous = true;
    for (size_t n = 0; n < recording.frameWall.size(); ++n) {
        if (recording.frameWall[n] < from || recording.frameWall[n] > to)
            continue;
        // Only a frame that differs from the one before can begin a shot.
        if (n > 0 && std::equal(recording.frame(n), recording.frame(n) + frameBytes, recording.frame(n - 1)))
            continue;
        const bool now = afterCut(n);
        if (now && !previous)
            at = recording.frameWall[n];
        previous = now;
    }
    return at;
}

double onsetIn(const std::vector<float>& track, double from, double to)
{
    const std::vector<double> levels = envelope(track.data(), track.size(), 88);
    const double blocks = Recording::rate / 88.0;
    double rise = 0.0, at = -1.0;
    for (size_t b = 10; b < levels.size(); ++b) {
        const double t = double(b) / blocks;
        if (t < from || t > to)
            continue;
        const double earlier = *std::max_element(levels.begin() + long(b) - 10, levels.begin() + long(b));
        if (levels[b] - earlier > rise)
            rise = levels[b] - earlier, at = t;
    }
    return at;
}

double heardAt(const Recording& recording, const std::vector<float>& reference)
{
    constexpr size_t block = 44; // 1 ms
    const std::vector<float>& audio = recording.audio;
    if (reference.size() < 10 * block || audio.size() < reference.size())
        return -1.0;
    const std::vector<double> wanted = envelope(reference.data(), reference.size(), block);
    const std::vector<double> heard = envelope(audio.data(), audio.size(), block);
    double best = -2.0;
    size_t bestBlock = 0;
    for (size_t b = 0; b + wanted.size() <= heard.size(); ++b) {
        const double c = correlation(wanted, heard.data() + b);
        if (c > best)
            best = c, bestBlock = b;
    }
    std::fprintf(stderr, "sync-probe: the track matches best %.3f s into the recording (correlation %.2f)\n",
                 double(bestBlock * block) / Recording::rate, best);
    if (best < 0.5)
        return -1.0;
    // Sample by sample within two blocks of the envelope's match.
    const long long centre = static_cast<long long>(bestBlock * block);
    double finest = -2.0;
    long long at = centre;
    for (long long lag = std::max(0LL, centre - 2 * long(block));
         lag <= centre + 2 * long(block) && size_t(lag) + reference.size() <= audio.size(); ++lag) {
        const double c = correlation(reference, audio.data() + lag);
        if (c > finest)
            finest = c, at = lag;
    }
    return recording.audioStart + double(at) / Recording::rate;
}
