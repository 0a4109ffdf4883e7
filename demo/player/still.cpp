#include "modes.h"
#include "offscreen.h"
#include "read_back.h"

#include <GL/glew.h>

#include <cstdio>
#include <vector>

int writeStill(OffscreenShow& show, const Options& options, const Platform::StopRequests& stop)
{
    // The command line admits only times the show draws; a frame not drawn is never written.
    if (show.draw(static_cast<float>(options.stillTime)).over) {
        std::fprintf(stderr, "demo: the show is over at %g s: there is no frame to write\n", options.stillTime);
        return 1;
    }
    const FrameReadBack reader(show.canvas, Conversion::none, 1);
    reader.read(0);
    const auto* rgba = static_cast<const unsigned char*>(reader.map(0));
    if (rgba == nullptr) {
        reader.unmap();
        std::fprintf(stderr, "demo: could not read the picture back from OpenGL\n");
        return 1;
    }
    const unsigned width = show.canvas.width, height = show.canvas.height;
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    const std::string partial = partialFileName(options.outputFile, Platform::processId());
    const std::string failure = writeRgbaAsPng(partial, rgba, width, height, rgb.data());
    reader.unmap();
    if (!failure.empty()) {
        removeQuietly(partial);
        std::fprintf(stderr, "demo: could not write \"%s\": %s\n", options.outputFile.c_str(), failure.c_str());
        return 1;
    }
    // A stop that came while the frame was made leaves nothing behind, as a capture's does.
    if (const int signal = stop.received()) {
        removeQuietly(partial);
        return 128 + signal;
    }
    return moveIntoPlace(partial, options.outputFile) ? 0 : 1;
}
