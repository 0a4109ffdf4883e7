#pragma once

// Writing a capture: the ffmpeg command that encodes raw frames from its standard input with
// the matching part of the soundtrack, the temporary name the file is written under, and the
// progress line. Pure functions; the process itself is Platform::ChildProcess.

#include "options.h"

#include <cstddef>
#include <string>
#include <vector>

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
};

// Raw RGBA frames, bottom row first (as GL reads them), on standard input.
std::vector<std::string> encoderArguments(const EncoderJob& job);

// A name beside `target`, in the same folder so that renaming it is atomic, that keeps the
// extension (ffmpeg picks the container from it) and names this process.
std::string partialFileName(const std::string& target, int processId);

// The folder part of a path ("." when there is none).
std::string folderOf(const std::string& path);

// "[#####     ]  50%  frame 20 of 40  9.8 fps  0:02 left" into `line`, without allocating.
void formatProgress(char* line, std::size_t size, unsigned done, unsigned total, double seconds);
