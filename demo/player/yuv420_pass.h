#pragma once

// A canvas's picture converted by GL into the Y'CbCr 4:2:0 planes of yuv420.h, bit for bit as
// convertToYuv420 converts it, written straight into a buffer object: its bytes are the three
// planes one after the other, top row first, as a video encoder takes them (3/8 of the RGBA
// picture's bytes). No read-back pass follows: mapping the buffer gives the planes. Even sizes
// only; needs compute shaders and shader storage buffers (OpenGL 4.3).

#include "engine/shader.h"

#include <GL/glew.h>

#include <cstddef>

struct Canvas;

class Yuv420Pass {
public:
    // Whether this context can run the pass for a picture of `width` x `height`.
    static bool supported(unsigned width, unsigned height);
    // What a buffer the pass writes into must hold: the planes, rounded up to whole 4-byte words.
    static std::size_t bufferBytes(unsigned width, unsigned height);

    explicit Yuv420Pass(const Canvas& canvas);
    ~Yuv420Pass() = default;
    Yuv420Pass(const Yuv420Pass&) = delete;
    Yuv420Pass& operator=(const Yuv420Pass&) = delete;
    // A move hands the program over.
    Yuv420Pass(Yuv420Pass&& other) noexcept = default;
    Yuv420Pass& operator=(Yuv420Pass&&) = delete;

    // Converts the canvas as it is now into `buffer` (bufferBytes large); mapping it afterwards
    // waits for the planes.
    void convertInto(GLuint buffer) const;

private:
    GLuint canvasTexture = 0; // not owned
    bool byBlocks = false;    // 8x2 pixels an invocation, or a word of the planes
    unsigned invocations = 0;
    Kest::ShaderProgram program;
};
