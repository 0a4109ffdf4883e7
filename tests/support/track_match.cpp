#include "track_match.h"

#include "command.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <utility>

namespace TestSupport {

namespace {

constexpr size_t rate = 44100;

std::vector<float> mono(const short* frames, size_t count)
{
    std::vector<float> result(count);
    for (size_t i = 0; i < count; ++i)
        result[i] = (frames[2 * i] + frames[2 * i + 1]) / 65536.0f;
    return result;
}

// Where the sound begins and ends: the first and past the last 20 ms louder than -50 dBFS.
std::pair<size_t, size_t> soundSpan(const std::vector<float>& pcm)
{
    const size_t block = rate / 50;
    size_t first = pcm.size(), end = 0;
    for (size_t start = 0; start + block <= pcm.size(); start += block) {
        double energy = 0.0;
        for (size_t i = start; i < start + block; ++i)
            energy += double(pcm[i]) * pcm[i];
        if (energy / block > 1e-5)
            first = std::min(first, start), end = start + block;
    }
    return {first, end};
}

// A player that misses deadlines (Wine's audio thread while llvmpipe holds both cores) leaves
// runs of digital silence in the sink, after which the stream mostly goes on where it left off:
// taking those runs out leaves the track's own samples, give or take a few lost stretches.
std::vector<float> withoutDropouts(const std::vector<float>& pcm, size_t& dropped)
{
    constexpr size_t shortestDropout = 32;
    std::vector<float> kept;
    kept.reserve(pcm.size());
    dropped = 0;
    for (size_t i = 0; i < pcm.size();) {
        size_t end = i;
        while (end < pcm.size() && pcm[end] == 0.0f)
            ++end;
        if (end - i >= shortestDropout) {
            // Silence before the first sound or after the last is no dropout.
            if (i > 0 && end < pcm.size())
                dropped += end - i;
        } else {
            kept.insert(kept.end(), pcm.begin() + i, pcm.begin() + end);
        }
        if (end < pcm.size())
            kept.push_back(pcm[end]);
        i = end + 1;
    }
    return kept;
}

struct Match {
    double correlation = -1.0;
    size_t at = 0;
};

// The stretch of `track` starting in [first, last] that `piece` is most like, by normalised
// correlation, so the sink's level does not matter.
Match bestMatch(const float* piece, size_t length, const std::vector<float>& track, size_t first, size_t last)
{
    double pieceEnergy = 0.0;
    for (size_t i = 0; i < length; ++i)
        pieceEnergy += double(piece[i]) * piece[i];
    Match best;
    for (size_t at = first; at <= last && at + length <= track.size(); ++at) {
        double dot = 0.0, energy = 0.0;
        for (size_t i = 0; i < length; ++i)
            dot += double(piece[i]) * track[at + i], energy += double(track[at + i]) * track[at + i];
        const double correlation = dot / std::sqrt(pieceEnergy * energy + 1e-30);
        if (correlation > best.correlation)
            best = {correlation, at};
    }
    return best;
}

// The same as bestMatch over all of `track`: a coarse search on both signals averaged over
// `step` samples, then the full one around what it found.
Match bestMatchAnywhere(const float* piece, size_t length, const std::vector<float>& track)
{
    constexpr size_t step = 8;
    const auto averaged = [](const float* from, size_t count) {
        std::vector<float> out(count / step);
        for (size_t i = 0; i < out.size(); ++i) {
            float sum = 0.0f;
            for (size_t j = 0; j < step; ++j)
                sum += from[i * step + j];
            out[i] = sum / step;
        }
        return out;
    };
    const std::vector<float> coarsePiece = averaged(piece, length);
    const std::vector<float> coarseTrack = averaged(track.data(), track.size());
    const Match coarse = bestMatch(coarsePiece.data(), coarsePiece.size(), coarseTrack, 0, coarseTrack.size());
    const size_t around = coarse.at * step;
    return bestMatch(piece, length, track, around > 4 * step ? around - 4 * step : 0, around + 4 * step);
}

} // namespace

std::vector<float> readMono(const std::string& rawPath)
{
    std::ifstream in(rawPath, std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<short> frames(raw.size() / 2);
    std::memcpy(frames.data(), raw.data(), frames.size() * 2);
    return mono(frames.data(), frames.size() / 2);
}

double soundSeconds(const std::string& rawPath)
{
    const auto [first, end] = soundSpan(readMono(rawPath));
    return end > first ? double(end - first) / rate : 0.0;
}

TrackMatch matchTrack(const std::string& recording, const std::string& mp3)
{
    const std::string decoded =
        commandOutput("ffmpeg -loglevel error -i '" + mp3 + "' -t 20 -f s16le -ac 2 -ar 44100 -");
    std::vector<short> frames(decoded.size() / 2);
    std::memcpy(frames.data(), decoded.data(), frames.size() * 2);
    const std::vector<float> played = mono(frames.data(), frames.size() / 2);

    TrackMatch result;
    size_t dropped = 0;
    const std::vector<float> heard = withoutDropouts(readMono(recording), dropped);
    const auto [heardFrom, heardTo] = soundSpan(heard);
    result.droppedSeconds = double(dropped) / rate;
    if (heardTo <= heardFrom)
        return result;
    result.heardSeconds = double(heardTo - heardFrom) / rate;

    constexpr size_t piece = rate / 20, lostAtMost = rate / 20;
    // The music begins where the picture is when it is first heard, which is the track's start
    // only when the first picture came at once: the first piece is looked for anywhere in the
    // stretch decoded, and each one after it a little after the last.
    bool begun = false;
    size_t offset = 0, reach = rate / 2;
    for (size_t at = heardFrom; at + piece <= heardTo; at += piece, ++result.pieces) {
        const Match match = begun ? bestMatch(&heard[at], piece, played, offset, offset + reach)
                                  : bestMatchAnywhere(&heard[at], piece, played);
        if (match.correlation > 0.9) {
            ++result.matched;
            begun = true;
            // The next piece follows on, give or take a few samples.
            offset = match.at + piece - 64;
            reach = lostAtMost;
        } else {
            // Lost in a longer stretch, or one inside this piece: look further on.
            offset += piece;
            reach = std::min(reach + lostAtMost, rate / 2);
        }
    }
    return result;
}

} // namespace TestSupport
