#pragma once

#include <string>
#include <vector>

// What the command line asks for. With no arguments: the live show, full screen, from the start.
struct Options {
    enum class Mode { show, still, capture, bench, help, version };

    Mode mode = Mode::show;
    bool windowed = false;
    bool dryRun = false;    // capture: check the command line and the output, draw nothing
    bool overwrite = false; // capture: numbered images may replace files already there
    bool loop = false;      // live show: start again from 0 at the end
    bool vsync = true;      // live show: wait for the display's refresh before each frame
    bool glErrors = false;  // report the GL driver's errors, and fail when there were any
    unsigned width = 0;  // picture or window size; the full-screen video mode when given; 0 until
    unsigned height = 0; // chosen, then the mode's default (full screen: the desktop's)
    double scale = 1.0;  // the off-screen passes' share of the picture's size in each direction
    std::string screenshotFolder = "."; // windowed show: where F12 writes its pictures
    double start = 0.0;  // live show: where the show and the music begin
    double stillTime = 0.0;
    double fps = 60.0;
    double from = 0.0;
    double to = 0.0;     // set to the show's length unless given
    unsigned frames = 300;
    std::string outputFile; // still: the PNG; capture: the video or numbered image pattern
    unsigned segment = 0;   // capture: only segment `segment` of `segments` of the frames
    unsigned segments = 0;  // 0: all of them
    std::string joinFrames; // capture: encode these numbered PNGs instead of drawing the frames
    // capture to a video, bench: where the frames are converted to the encoder's planes
    enum class ConvertOn { renderer, gpu, cpu };
    ConvertOn convertOn = ConvertOn::renderer; // by the renderer: see defaultConversion
};

// The result of reading the command line: either options or one line naming the problem.
struct ParsedOptions {
    Options options;
    std::string error; // empty when the command line was good
};

ParsedOptions parseOptions(const std::vector<std::string>& arguments);

// The --help text, with every option, its default and examples.
std::string usageText();
