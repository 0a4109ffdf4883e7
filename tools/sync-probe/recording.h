#pragma once

// One recording of the screen and the sink made by a single ffmpeg with -copyts, so that the
// frames and the samples carry the same wall clock; and what is read from it. Pure computation.

#include <string>
#include <vector>

struct Recording {
    static constexpr double rate = 44100.0;
    int width = 0;
    int height = 0;
    std::vector<double> frameWall;     // when each frame was grabbed, seconds
    std::vector<unsigned char> pixels; // the frames' luma, width x height each, rows from the top
    double audioStart = 0.0;           // when sample 0 was at the sink's monitor
    std::vector<float> audio;          // mono, in [-1, 1]

    const unsigned char* frame(size_t n) const { return &pixels[n * static_cast<size_t>(width) * height]; }
};

// Reads DIR/packets.csv (ffprobe's "stream,pts_time,size" of each packet, video stream 0 and
// audio stream 1), DIR/video.gray (the frames, 8-bit luma) and DIR/audio.raw (s16le stereo).
// False, after a line saying why, when they do not fit together.
bool loadRecording(const std::string& folder, int width, int height, Recording& recording);

// When each flip of the picture between black and white was first grabbed.
std::vector<double> flipTimes(const Recording& recording);

// When each burst after silence starts at the sink.
std::vector<double> burstOnsets(const Recording& recording);

// Pictures of the grabbed size, each the still of a show time, to tell which side of a cut a
// grabbed frame shows.
struct Still {
    double t = 0.0;
    std::vector<unsigned char> luma;
};

// When a cut at show time `cut` was first grabbed within [from, to]: the last frame there whose
// nearest still (the least mean difference) lies after the cut and that follows one whose
// nearest lies before it; negative when there is none.
double cutTime(const Recording& recording, double from, double to, const std::vector<Still>& stills, double cut);

// Where the strongest onset within [from, to] seconds of `track` (mono, starting at 0 s) lies:
// the 2 ms whose level rises most over the 20 ms before them.
double onsetIn(const std::vector<float>& track, double from, double to);

// When the first sample of `reference` (mono, at the recording's rate) was heard: the best
// match of its envelope over the whole recording, refined sample by sample. Negative when
// nothing matches at all (a gap in the output on a loaded machine may spoil a match, so the
// caller refines it by what it looks for).
double heardAt(const Recording& recording, const std::vector<float>& reference);
