#pragma once

// A capture: what its file name says about the container, how many frames it has, the ffmpeg
// command that encodes them with the matching part of the soundtrack, and its progress line.
// Pure functions; the capture itself is runCapture (modes.h).

#include <cstddef>
#include <string>
#include <vector>

// How a capture's output file is written, from its name.
struct CaptureFormat {
    enum class Kind { unsupported, mp4, mkv, webm, images };
    Kind kind = Kind::unsupported;
    bool isVideo() const { return kind == Kind::mp4 || kind == Kind::mkv || kind == Kind::webm; }
    bool hasSound() const { return isVideo(); }
    // A video is encoded from the Y'CbCr 4:2:0 planes of yuv420.h, which halve both sizes;
    // images from RGBA.
    bool takesPlanes() const { return isVideo(); }
    bool needsEvenSize() const { return takesPlanes(); }
};
CaptureFormat captureFormatOf(const std::string& file);

// The show time of a capture's frame n: from + n / fps, in the show's single precision.
float captureFrameTime(double from, double fps, unsigned n);

// The number of frames a capture renders: every n >= 0 with from + n / fps < to whose time the
// show draws (it rounds below the end of the show).
unsigned captureFrameCount(double from, double to, double fps);

// The file of frame n of a numbered image pattern such as frames/%05d.png, named as ffmpeg names
// it: %3d is padded with zeros too.
std::string frameFileName(const std::string& pattern, unsigned n);

// Frames first .. end - 1 of a capture, numbered by their place in the whole capture.
struct FrameRange {
    unsigned first = 0;
    unsigned end = 0;
    unsigned count() const { return end - first; }
};

// Segment `index` of `segments` of a capture of `frames` frames: cut on the frame grid, sizes
// differing by at most one, so that the segments side by side are the whole capture.
FrameRange segmentFrames(unsigned frames, unsigned index, unsigned segments);

struct EncoderJob {
    std::string ffmpeg;     // full path of the program
    CaptureFormat format;
    unsigned width = 0;
    unsigned height = 0;
    double fps = 60.0;
    double from = 0.0;      // the soundtrack's part: from .. to seconds
    double to = 0.0;
    std::string soundtrack; // empty: no sound
    std::string output;     // where ffmpeg writes (the temporary name for a video)
    unsigned firstFrame = 0; // images: the number of the first file written
};

// Raw frames on standard input: for a video their Y'CbCr 4:2:0 planes (yuv420.h), for images
// their RGBA rows, bottom row first (as GL reads them). The same frames give the same file, byte
// for byte: the encoders and muxers run bit-exact, so no random id, date or version is written
// into it.
std::vector<std::string> encoderArguments(const EncoderJob& job);

// Why the encoder failed, from all it wrote: its last line, past the notes that only repeat an
// earlier one ("Last message repeated 2 times"), with the file it wrote to (`partial`, as given
// to it) named as the user's `target`.
std::string encoderFailure(const std::string& output, const std::string& partial, const std::string& target);

// "[#####     ]  50%  frame 20 of 40  9.8 fps  0:02 left" into `line`, without allocating.
void formatProgress(char* line, std::size_t size, unsigned done, unsigned total, double seconds);
