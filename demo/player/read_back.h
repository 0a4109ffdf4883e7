#pragma once

// A frame's pixels read back from GL without stalling the drawing, and a video's frames made into
// the Y'CbCr 4:2:0 planes its encoder takes, on the GPU or the CPU.

#include "options.h"
#include "yuv420_pass.h"

#include "show/show.h"

#include <GL/glew.h>

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

// Pictures read back through a ring of pixel-buffer objects: frame n is read into slot
// n % slots once it is drawn and mapped `slots - 1` frames later, so that the copy overlaps the
// drawing of the frames between.
class ReadBackRing {
public:
    static constexpr unsigned maxSlots = 3;
    // `slots` buffers (at most maxSlots) of `frameBytes` each.
    ReadBackRing(std::size_t frameBytes, unsigned slots);
    ~ReadBackRing();
    ReadBackRing(const ReadBackRing&) = delete;
    ReadBackRing& operator=(const ReadBackRing&) = delete;
    // A move hands the buffers over and leaves none behind.
    ReadBackRing(ReadBackRing&& other) noexcept;
    ReadBackRing& operator=(ReadBackRing&&) = delete;

    // Starts reading `width` x `height` RGBA pixels of colour attachment 0 of `framebuffer` into
    // buffer `slot`, bottom row first, rows packed.
    void read(unsigned slot, GLuint framebuffer, GLsizei width, GLsizei height) const;
    GLuint buffer(unsigned slot) const { return buffers[slot]; }
    // The bytes of buffer `slot` until unmap; null when GL cannot map it.
    const void* map(unsigned slot) const;
    void unmap() const;

    std::size_t frameBytes = 0;
    unsigned slots = 0;

private:
    std::array<GLuint, maxSlots> buffers{};
};

// Where a frame becomes the Y'CbCr 4:2:0 planes a video encoder takes (yuv420.h): nowhere (its
// RGBA rows are wanted), on the GPU (Yuv420Pass, which writes them where they are mapped: no
// read-back of the picture at all) or on the CPU from the RGBA rows read back. The planes are
// the same bytes either way.
enum class Conversion { none, gpu, cpu };

// Where a capture to a video converts by default: on the CPU where the OpenGL is Mesa's llvmpipe
// or softpipe, whose read-back and a plain loop cost less than the pass; otherwise on the GPU,
// zink over lavapipe included (measured in the README).
Conversion defaultConversion();
// The one asked for on the command line, or the default, for a canvas of that size: none for an
// odd size, which has no planes; on the CPU where the GL cannot run the pass at that size.
Conversion chosenConversion(Options::ConvertOn asked, const Canvas& canvas);

// What a capture reads of each frame through a ring of `slots` buffers: the canvas's RGBA rows,
// bottom row first, or its planes, top row first.
class FrameReadBack {
public:
    FrameReadBack(const Canvas& canvas, Conversion conversion, unsigned slots);

    // Starts reading the canvas as it is now into `slot`: on the GPU, converting it into the
    // slot's buffer; otherwise copying its RGBA rows there.
    void read(unsigned slot) const;
    // What was read into `slot`, until unmap; null when GL cannot map it.
    const void* map(unsigned slot) const { return ring.map(slot); }
    // The frame as the encoder takes it, from what map gave: on the CPU, converted into a buffer
    // of this reader's, valid until the next call; otherwise `mapped` itself.
    const void* encoderBytes(const void* mapped);
    void unmap() const { ring.unmap(); }
    // The size of what encoderBytes gives.
    std::size_t bytes() const;

    const Conversion conversion;

private:
    const Canvas& canvas;
    std::optional<Yuv420Pass> planesPass;
    ReadBackRing ring;
    std::vector<unsigned char> planes; // the CPU's conversion
};
