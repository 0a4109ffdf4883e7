#pragma once

#include "part.h"

#include <GL/glew.h>

#include <cstdint>

namespace Kest {

// A place to render to: a framebuffer with the viewport rectangle used with it.
class RenderTarget {
public:
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    GLbitfield buffers = 0;
    GLuint framebuffer = 0;
    GLuint depthBuffer = 0;

    // Off-screen: makes a framebuffer (left bound to GL_FRAMEBUFFER) and, when buffers
    // has GL_DEPTH_BUFFER_BIT, a depth renderbuffer.
    RenderTarget(unsigned width, unsigned height, GLbitfield buffers);
    // A rectangle of the window's framebuffer 0; makes no GL object.
    RenderTarget(int x, int y, unsigned width, unsigned height);
    ~RenderTarget();
    RenderTarget(const RenderTarget&) = delete;
    RenderTarget& operator=(const RenderTarget&) = delete;

    void bind() const;
    // An RGBA16F texture attached as colour attachment `attachment` of the framebuffer
    // bound to GL_FRAMEBUFFER.
    Texture createHdrBuffer(unsigned width, unsigned height, unsigned attachment) const;
};

} // namespace Kest
