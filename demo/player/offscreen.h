#pragma once

// What the off-screen modes (a still, a capture, the benchmark) share: the show drawn into a
// canvas of its own and the writing of a finished file into place (read_back.h reads its pixels).

#include "show/show.h"

#include <GL/glew.h>

#include <chrono>
#include <cstddef>
#include <string>

// The objects every off-screen mode draws with, in the order the live show makes them.
struct OffscreenShow {
    ShowScene scene;
    PassTargets targets;
    Canvas canvas;
    PassInputs inputs;

    // The passes render at `scale` of the picture's size (see passSize).
    OffscreenShow(unsigned width, unsigned height, double scale);
    Choreography draw(float t, PassObserver observer = {});
};

// RGBA rows as GL reads them, bottom row first, written to `path` as an RGB PNG, top row first;
// `rgb` is the caller's buffer of width * height * 3 bytes. Empty when the whole file was
// written; otherwise why not (such as "No space left on device"), and the file is incomplete.
// Says nothing.
std::string writeRgbaAsPng(const std::string& path, const unsigned char* rgba, unsigned width, unsigned height,
                    unsigned char* rgb);

// A name beside `target`, in the same folder so that renaming it is atomic, that keeps the
// extension (ffmpeg picks the container from it) and names this process.
std::string partialFileName(const std::string& target, int processId);

// The folder part of a path ("." when there is none).
std::string folderOf(const std::string& path);

// Whether a new file can be made in `folder`; says why not on standard error.
bool canWriteIn(const std::string& folder);
// Whether a still or video can be written to `file`: its folder takes files and it is not a
// folder itself (the rename at the end would fail, after all the rendering). One line when not.
bool canWriteFile(const std::string& file);

// Renames a finished file onto its target; on failure removes it and says why.
bool moveIntoPlace(const std::string& partial, const std::string& target);

void removeQuietly(const std::string& path);

inline double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
