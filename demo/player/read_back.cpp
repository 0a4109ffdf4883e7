#include "read_back.h"

#include "yuv420.h"

#include <algorithm>
#include <string>

ReadBackRing::ReadBackRing(std::size_t frameBytes_, unsigned slots_)
    : frameBytes(frameBytes_)
    , slots(std::min(slots_, maxSlots))
{
    glGenBuffers(static_cast<GLsizei>(slots), buffers.data());
    for (unsigned slot = 0; slot < slots; ++slot) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[slot]);
        glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(frameBytes), nullptr, GL_STREAM_READ);
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

ReadBackRing::ReadBackRing(ReadBackRing&& other) noexcept
    : frameBytes(other.frameBytes)
    , slots(other.slots)
    , buffers(other.buffers)
{
    other.slots = 0;
}

ReadBackRing::~ReadBackRing()
{
    glDeleteBuffers(static_cast<GLsizei>(slots), buffers.data());
}

void ReadBackRing::read(unsigned slot, GLuint framebuffer, GLsizei width, GLsizei height) const
{
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[slot]);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

const void* ReadBackRing::map(unsigned slot) const
{
    glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[slot]);
    return glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(frameBytes), GL_MAP_READ_BIT);
}

void ReadBackRing::unmap() const
{
    glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

Conversion defaultConversion()
{
    const GLubyte* name = glGetString(GL_RENDERER);
    const std::string renderer = name != nullptr ? reinterpret_cast<const char*>(name) : "";
    // Zink names the rasteriser it runs on, but its read-back of the whole picture costs more
    // than the conversion pass that writes the planes where they are mapped.
    const bool zink = renderer.rfind("zink", 0) == 0;
    const bool software = renderer.find("llvmpipe") != std::string::npos || renderer.find("softpipe") != std::string::npos;
    return software && !zink ? Conversion::cpu : Conversion::gpu;
}

Conversion chosenConversion(Options::ConvertOn asked, const Canvas& canvas)
{
    if (canvas.width % 2 != 0 || canvas.height % 2 != 0)
        return Conversion::none;
    const Conversion wanted = asked == Options::ConvertOn::gpu   ? Conversion::gpu
                              : asked == Options::ConvertOn::cpu ? Conversion::cpu
                                                                 : defaultConversion();
    return wanted == Conversion::gpu && !Yuv420Pass::supported(canvas.width, canvas.height) ? Conversion::cpu : wanted;
}

FrameReadBack::FrameReadBack(const Canvas& canvas_, Conversion conversion_, unsigned slots)
    : conversion(conversion_)
    , canvas(canvas_)
    , planesPass(conversion_ == Conversion::gpu ? std::optional<Yuv420Pass>(std::in_place, canvas_) : std::nullopt)
    , ring(conversion_ == Conversion::gpu ? Yuv420Pass::bufferBytes(canvas_.width, canvas_.height)
                                          : static_cast<std::size_t>(canvas_.width) * canvas_.height * 4,
           slots)
    , planes(conversion_ == Conversion::cpu ? Yuv420::frameBytes(canvas_.width, canvas_.height) : 0)
{
}

void FrameReadBack::read(unsigned slot) const
{
    if (planesPass)
        planesPass->convertInto(ring.buffer(slot));
    else
        ring.read(slot, canvas.target.framebuffer, static_cast<GLsizei>(canvas.width),
                  static_cast<GLsizei>(canvas.height));
}

const void* FrameReadBack::encoderBytes(const void* mapped)
{
    if (conversion != Conversion::cpu || mapped == nullptr)
        return mapped;
    // GL's rows come bottom first: the top row is the last.
    const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(canvas.width) * 4;
    convertToYuv420(static_cast<const unsigned char*>(mapped) + rowBytes * (canvas.height - 1), -rowBytes,
                    canvas.width, canvas.height, 4, planes.data());
    return planes.data();
}

std::size_t FrameReadBack::bytes() const
{
    return conversion == Conversion::none ? ring.frameBytes : Yuv420::frameBytes(canvas.width, canvas.height);
}
