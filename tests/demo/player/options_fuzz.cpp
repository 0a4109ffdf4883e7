// libFuzzer target: any argument vector through the command line's parser. The bytes are the
// arguments, each ended by a NUL. Built by the fuzz preset only; scripts/fuzz.sh runs it.
#include "player/capture.h"
#include "player/options.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            arguments.emplace_back();
        else
            arguments.back() += static_cast<char>(data[i]);
    }
    if (arguments.back().empty())
        arguments.pop_back();

    const ParsedOptions parsed = parseOptions(arguments);
    // What the player does next with good options must hold for any of them.
    const Options& options = parsed.options;
    if (parsed.error.empty() && options.mode == Options::Mode::capture) {
        const unsigned frames = captureFrameCount(options.from, options.to, options.fps);
        if (frames == 0 || captureFormatOf(options.outputFile).kind == CaptureFormat::Kind::unsupported)
            std::abort();
        if (captureFormatOf(options.outputFile).kind == CaptureFormat::Kind::images)
            frameFileName(options.outputFile, frames - 1);
    }
    if (!parsed.error.empty() && parsed.error.find('\n') != std::string::npos)
        std::abort(); // the message is one line
    return 0;
}
