// How far the heard sound is from the seen picture, for scripts/benchmark.sh:
//   sync-probe reference COUNT X Y W H     flips the screen's rectangle and sounds a burst in
//                                          the default sink at one instant, COUNT times
//   sync-probe centre TITLE                moves the window whose name starts with TITLE to the
//                                          middle of the screen
//   sync-probe keys TITLE SECONDS KEY...   types the keys (X keysym names) into the window whose
//                                          name starts with TITLE, SECONDS apart
//   sync-probe calibrate DIR W H           from a recording of that reference: seen minus
//                                          heard of each flip, in ms, one per line
//   sync-probe show DIR W H TRACK.mp3 T STILLS
//                                          from a recording of the show: the cut at show time T
//                                          seen minus the moment the track's own time T was
//                                          heard (its strongest onset near T heard, less how far
//                                          that onset lies after T in the track as the show
//                                          decodes it), in ms; STILLS holds the grabbed part of stills either
//                                          side of the cut as 8-bit luma, named by show time
//                                          ("47.90.gray")
// A recording is the folder that scripts/benchmark.sh extracts from one ffmpeg run.
#include "music/music_decoder.h"
#include "recording.h"
#include "reference.h"
#include "window.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string fileBytes(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The track's mono samples from `from` to `to` seconds, as the show's own decoder delivers them
// when it plays from the start (no seek, so no seek table in the way).
std::vector<float> trackStretch(const char* path, double from, double to)
{
    std::vector<float> stretch;
    ma_decoder decoder;
    if (openMusicFile(path, decoder) != MA_SUCCESS)
        return stretch;
    const auto first = static_cast<ma_uint64>(from * Recording::rate), last = static_cast<ma_uint64>(to * Recording::rate);
    std::vector<float> block(4096 * musicChannels);
    for (ma_uint64 at = 0; at < last;) {
        ma_uint64 read = 0;
        if (ma_decoder_read_pcm_frames(&decoder, block.data(), 4096, &read) != MA_SUCCESS || read == 0)
            break;
        for (ma_uint64 i = 0; i < read; ++i, ++at)
            if (at >= first && at < last)
                stretch.push_back(0.5f * (block[2 * i] + block[2 * i + 1]));
    }
    ma_decoder_uninit(&decoder);
    return stretch;
}

int usage()
{
    std::fprintf(stderr, "usage: sync-probe reference COUNT X Y W H | centre TITLE | keys TITLE SECONDS KEY... | calibrate DIR W H | show DIR W H TRACK.mp3 T STILLS\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (command == "reference" && argc == 7)
        return SyncReference::run(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                                  std::atoi(argv[6]))
                   ? 0
                   : 1;
    if (command == "centre" && argc == 3)
        return SyncWindow::centre(argv[2]) ? 0 : 1;
    if (command == "keys" && argc >= 5)
        return SyncWindow::type(argv[2], argv + 4, argc - 4, std::atof(argv[3])) ? 0 : 1;
    if ((command == "calibrate" && argc == 5) || (command == "show" && argc == 8)) {
        Recording recording;
        if (!loadRecording(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), recording))
            return 1;
        if (command == "calibrate") {
            const std::vector<double> flips = flipTimes(recording), onsets = burstOnsets(recording);
            int paired = 0;
            for (double onset : onsets) {
                for (double flip : flips)
                    if (std::fabs(flip - onset) < 0.3) {
                        std::printf("%.1f\n", (flip - onset) * 1000.0);
                        ++paired;
                        break;
                    }
            }
            if (paired == 0)
                std::fprintf(stderr, "sync-probe: no flip with a burst (%zu flips, %zu bursts)\n", flips.size(), onsets.size());
            return paired > 0 ? 0 : 1;
        }
        // The track as the show plays it from a second before the cut's time: 0.15 s each side of
        // the crash are looked for in the recording (short, so that a gap in the output on a
        // loaded machine seldom falls inside), and the crash's onset within them is what is heard.
        const double t = std::atof(argv[6]);
        const std::vector<float> track = trackStretch(argv[5], t - 1.0, t + 1.0);
        const double crash = onsetIn(track, 0.95, 1.2);
        if (crash < 0.0) {
            std::fprintf(stderr, "sync-probe: no onset in the track near %.2f s\n", t);
            return 1;
        }
        const double from = crash - 0.15;
        const std::vector<float> reference(track.begin() + long(from * Recording::rate),
                                           track.begin() + long((crash + 0.15) * Recording::rate));
        const double heard = heardAt(recording, reference);
        if (heard < 0.0) {
            std::fprintf(stderr, "sync-probe: the track around %.2f s was not heard\n", t);
            return 1;
        }
        // The crash is the strongest onset there: taken from the recording itself, it stays right
        // where a gap in the output has shifted what came before it.
        const double expected = heard + (crash - from) - recording.audioStart;
        const double onset = onsetIn(recording.audio, expected - 0.05, expected + 0.05);
        const double heardCrash = recording.audioStart + (onset < 0.0 ? expected : onset);
        std::vector<Still> stills;
        for (const auto& entry : std::filesystem::directory_iterator(argv[7]))
            if (entry.path().extension() == ".gray") {
                const std::string bytes = fileBytes(entry.path().c_str());
                stills.push_back({std::atof(entry.path().stem().c_str()), {bytes.begin(), bytes.end()}});
            }
        const double seen = cutTime(recording, heardCrash - 1.0, heardCrash + 3.0, stills, t);
        if (seen < 0.0) {
            std::fprintf(stderr, "sync-probe: no cut seen near %.2f s\n", t);
            return 1;
        }
        // The crash lies a little after the cut's time in the track as the show decodes and plays
        // it (the encoder's delay, the attack): the time the track's own `t` was heard is that
        // much before the crash was.
        const double crashAfterCut = crash - 1.0;
        std::fprintf(stderr, "sync-probe: the crash lies at %.4f s of the track as decoded; seen minus heard %.1f ms\n",
                     t + crashAfterCut, (seen - heardCrash) * 1000.0);
        std::printf("%.1f\n", (seen - (heardCrash - crashAfterCut)) * 1000.0);
        return 0;
    }
    return usage();
}
