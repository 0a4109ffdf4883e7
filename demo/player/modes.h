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

// A capture's encoder. The capture starts it before the show is built, so that its own start
// (loading its libraries) runs beside the show's rather than beside the first frames. One that
// no capture or join took over is killed, and the partial video it began removed.
class CaptureEncoder {
public:
    // Starts `ffmpeg` (its full path) for the capture `options` describe; says so where it cannot.
    CaptureEncoder(const Options& options, const std::string& ffmpeg);
    ~CaptureEncoder();
    CaptureEncoder(const CaptureEncoder&) = delete;
    CaptureEncoder& operator=(const CaptureEncoder&) = delete;

    bool started() const { return process.running(); }
    // The process, for a capture or join that from now on ends it and removes what it wrote.
    Platform::ChildProcess& takeOver()
    {
        takenOver = true;
        return process;
    }

    Platform::ChildProcess process;
    std::string partial; // where it writes: the video's temporary name, or the images' pattern
    bool video = false;
    bool takenOver = false;
};

// Every frame of the chosen range handed to `encoder` and encoded.
int runCapture(OffscreenShow& show, const Options& options, CaptureEncoder& encoder,
               const Platform::StopRequests& stop);

// The numbered PNGs of options.joinFrames (a capture's frames, drawn elsewhere) encoded as that
// capture would encode them, with no OpenGL.
int runJoin(const Options& options, const std::string& ffmpeg, const Platform::StopRequests& stop);

// Each pass's time over options.frames frames, printed on standard output.
int runBenchmark(OffscreenShow& show, const Options& options, const Platform::StopRequests& stop);
