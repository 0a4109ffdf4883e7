#pragma once

// A canvas's picture converted by GL into the Y'CbCr 4:2:0 planes of yuv420.h, bit for bit as
// convertToYuv420 converts it, into a target of one byte a pixel, as wide as the picture and
// half as tall again: read back whole, its rows are the three planes one after the other, top
// row first, as a video encoder takes them (3/8 of the RGBA picture's bytes). Even sizes only.

#include "engine/shader.h"

#include <GL/glew.h>

struct Canvas;

class Yuv420Pass {
public:
    explicit Yuv420Pass(const Canvas& canvas);
    ~Yuv420Pass();
    Yuv420Pass(const Yuv420Pass&) = delete;
    Yuv420Pass& operator=(const Yuv420Pass&) = delete;
    // A move hands the GL names over and leaves 0 behind.
    Yuv420Pass(Yuv420Pass&& other) noexcept;
    Yuv420Pass& operator=(Yuv420Pass&&) = delete;

    // Converts the canvas as it is now; the planes are then in `framebuffer`.
    void draw() const;

    GLuint framebuffer = 0;
    GLsizei width = 0;
    GLsizei height = 0; // the picture's height * 3 / 2

private:
    GLuint canvasTexture = 0; // not owned
    Kest::ShaderProgram program;
    GLuint planes = 0;      // GL_R8UI renderbuffer
    GLuint vertexArray = 0; // none of its attributes are used: the vertices are made from their index
};
