#pragma once

// The ways of watching the show, each in a source of its own; player.cpp picks one. Each returns
// the exit status: 0, 1 for a failure it has explained on standard error, or 128 + the signal
// that stopped it.

#include "options.h"

#include "platform/platform.h"

#include "capture.h"

#include <string>

struct OffscreenShow;

// The frames a capture writes: all of them, or its --segment of them.
FrameRange captureFrames(const Options& options);

// The live show in a window, full screen or not, with its music.
int runLiveShow(const Options& options, const Platform::StopRequests& stop);

// The frame at options.stillTime as a PNG.
int writeStill(OffscreenShow& show, const Options& options, const Platform::StopRequests& stop);

// Every frame of the chosen range piped to `ffmpeg` (its full path) and encoded.
int runCapture(OffscreenShow& show, const Options& options, const std::string& ffmpeg,
               const Platform::StopRequests& stop);

// The numbered PNGs of options.joinFrames (a capture's frames, drawn elsewhere) encoded as that
// capture would encode them, with no OpenGL.
int runJoin(const Options& options, const std::string& ffmpeg, const Platform::StopRequests& stop);

// Each pass's time over options.frames frames, printed on standard output.
int runBenchmark(OffscreenShow& show, const Options& options, const Platform::StopRequests& stop);
