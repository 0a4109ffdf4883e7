#pragma once

// Reads an audio file's integrated loudness and true peak with ffmpeg's EBU R128 meter:
// the independent reference both for the built track and for the synth's own meter.

#include "support/command.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

struct LoudnessSummary {
    double integratedLufs = NAN;
    double truePeakDbfs = NAN;
};

// Runs the ebur128 filter over the file and takes the numbers from its closing summary;
// NaN where ffmpeg could not be run or printed no summary.
inline LoudnessSummary measureWithFfmpeg(const std::string& path)
{
    std::string command = std::string("\"") + FFMPEG_EXECUTABLE + "\" -nostats -hide_banner -i \"" + path +
                          "\" -filter_complex ebur128=peak=true -f null - 2>&1";
    const std::string output = TestSupport::commandOutput(command);

    size_t summary = output.rfind("Summary:");
    if (summary == std::string::npos)
        return {};
    auto valueAfter = [&](const char* label) {
        size_t at = output.find(label, summary);
        return at == std::string::npos ? NAN : std::strtod(output.c_str() + at + std::strlen(label), nullptr);
    };
    return LoudnessSummary{valueAfter("I:"), valueAfter("Peak:")};
}
