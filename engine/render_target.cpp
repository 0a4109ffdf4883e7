#include "render_target.h"

namespace Kest {

RenderTarget::RenderTarget(unsigned width_, unsigned height_, GLbitfield buffers_)
    : width(width_)
    , height(height_)
    , buffers(buffers_)
{
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    if (buffers & GL_DEPTH_BUFFER_BIT) {
        glGenRenderbuffers(1, &depthBuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, static_cast<GLsizei>(width),
                              static_cast<GLsizei>(height));
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer);
    }
}

RenderTarget::RenderTarget(int x_, int y_, unsigned width_, unsigned height_)
    : x(x_)
    , y(y_)
    , width(width_)
    , height(height_)
{
}

RenderTarget::~RenderTarget()
{
    // Both calls ignore name 0, so the window target deletes nothing.
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &depthBuffer);
}

void RenderTarget::bind() const
{
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glViewport(x, y, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
}

Texture RenderTarget::createHdrBuffer(unsigned width_, unsigned height_, unsigned attachment) const
{
    Texture texture;
    glGenTextures(1, &texture.id);
    glBindTexture(texture.target, texture.id);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA16F, static_cast<GLsizei>(width_),
                 static_cast<GLsizei>(height_), 0, GL_RGBA, GL_FLOAT, nullptr);
    // One level only, so linear minification never needs mipmaps.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + attachment, GL_TEXTURE_2D,
                           texture.id, 0);
    return texture;
}

} // namespace Kest
