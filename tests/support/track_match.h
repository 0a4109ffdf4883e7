#pragma once

// Whether what a sound server's sink heard is the soundtrack: a recording of the sink's monitor
// compared, waveform against waveform, with the track as ffmpeg decodes it.

#include <cstddef>
#include <string>
#include <vector>

namespace TestSupport {

// Stereo 16-bit samples at 44.1 kHz (parec --format=s16le --channels=2 --raw) mixed down to
// mono in [-1, 1].
std::vector<float> readMono(const std::string& rawPath);

// Seconds from the first to past the last sound of a recording so far (raw, as readMono reads
// it): for waiting until a player has been heard long enough.
double soundSeconds(const std::string& rawPath);

struct TrackMatch {
    double heardSeconds = 0.0;   // from the first to past the last sound
    double droppedSeconds = 0.0; // runs of digital silence taken out in between
    size_t pieces = 0;           // 50 ms pieces of what was heard
    size_t matched = 0;          // those found in the track where they belong
};

// How much of `recording` (raw, as readMono reads it) is the first 20 s of `mp3`, played on
// from wherever in them it began. Runs of digital silence (a player missing its deadlines) are
// taken out first; until one is found, each 50 ms piece is looked for anywhere in those 20 s,
// and after that a little after the last piece found.
TrackMatch matchTrack(const std::string& recording, const std::string& mp3);

} // namespace TestSupport
