#include "offscreen.h"

#include "yuv420.h"

#include "platform/platform.h"

#include <stb/stb_image_write.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

OffscreenShow::OffscreenShow(unsigned width, unsigned height, double scale)
    : targets(passSize(computeLetterbox(width, height), scale))
    , canvas(width, height)
    , inputs(scene, targets)
{
}

Choreography OffscreenShow::draw(float t, PassObserver observer)
{
    return drawShowFrame(scene, targets, inputs, canvas.target, t, observer);
}

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

void ReadBackRing::read(unsigned slot, GLuint framebuffer, GLsizei width, GLsizei height, GLenum format) const
{
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[slot]);
    glReadPixels(0, 0, width, height, format, GL_UNSIGNED_BYTE, nullptr);
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
    const bool software = renderer.find("llvmpipe") != std::string::npos || renderer.find("softpipe") != std::string::npos;
    return software ? Conversion::cpu : Conversion::gpu;
}

Conversion chosenConversion(Options::ConvertOn asked, const Canvas& canvas)
{
    if (canvas.width % 2 != 0 || canvas.height % 2 != 0)
        return Conversion::none;
    const Conversion wanted = asked == Options::ConvertOn::gpu   ? Conversion::gpu
                              : asked == Options::ConvertOn::cpu ? Conversion::cpu
                                                                 : defaultConversion();
    // The GL pass's target is half as tall again as the picture.
    const bool fits = static_cast<GLint>(canvas.height + canvas.height / 2) <= maximumPictureSize();
    return wanted == Conversion::gpu && !fits ? Conversion::cpu : wanted;
}

FrameReadBack::FrameReadBack(const Canvas& canvas_, Conversion conversion_, unsigned slots)
    : conversion(conversion_)
    , canvas(canvas_)
    , planesPass(conversion_ == Conversion::gpu ? std::optional<Yuv420Pass>(std::in_place, canvas_) : std::nullopt)
    , ring(conversion_ == Conversion::gpu ? Yuv420::frameBytes(canvas_.width, canvas_.height)
                                          : static_cast<std::size_t>(canvas_.width) * canvas_.height * 4,
           slots)
    , planes(conversion_ == Conversion::cpu ? Yuv420::frameBytes(canvas_.width, canvas_.height) : 0)
{
}

void FrameReadBack::convert() const
{
    if (planesPass)
        planesPass->draw();
}

void FrameReadBack::startRead(unsigned slot) const
{
    if (planesPass)
        ring.read(slot, planesPass->framebuffer, planesPass->width, planesPass->height, GL_RED_INTEGER);
    else
        ring.read(slot, canvas.target.framebuffer, static_cast<GLsizei>(canvas.width),
                  static_cast<GLsizei>(canvas.height), GL_RGBA);
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
    return conversion == Conversion::cpu ? planes.size() : ring.frameBytes;
}

namespace {

// Where the PNG writer's bytes go, and the first error that kept any of them from the file.
struct PngFile {
    std::FILE* file;
    int error = 0;
};

void writePngBytes(void* context, void* data, int size)
{
    auto& png = *static_cast<PngFile*>(context);
    if (png.error == 0 && std::fwrite(data, 1, static_cast<size_t>(size), png.file) != static_cast<size_t>(size))
        png.error = errno != 0 ? errno : EIO;
}

} // namespace

std::string writeRgbaAsPng(const std::string& path, const unsigned char* rgba, unsigned width, unsigned height,
                           unsigned char* rgb)
{
    for (unsigned y = 0; y < height; ++y) {
        const unsigned char* from = rgba + static_cast<size_t>(height - 1 - y) * width * 4;
        unsigned char* to = rgb + static_cast<size_t>(y) * width * 3;
        for (unsigned x = 0; x < width; ++x)
            std::copy_n(from + 4 * x, 3, to + 3 * x);
    }
    errno = 0;
    PngFile png{Platform::openForWriting(path)};
    if (png.file == nullptr)
        return std::strerror(errno != 0 ? errno : EIO);
    // Every short write counts, and so does the last flush when the file is closed: a full disk
    // may show only there.
    const bool encoded = stbi_write_png_to_func(writePngBytes, &png, static_cast<int>(width), static_cast<int>(height),
                                                3, rgb, static_cast<int>(width * 3)) != 0;
    errno = 0;
    if (std::fflush(png.file) != 0 && png.error == 0)
        png.error = errno != 0 ? errno : EIO;
    if (std::fclose(png.file) != 0 && png.error == 0)
        png.error = errno != 0 ? errno : EIO;
    if (png.error != 0)
        return std::strerror(png.error);
    return encoded ? std::string() : "the picture could not be encoded";
}

std::string partialFileName(const std::string& target, int processId)
{
    const size_t separator = target.find_last_of("/\\");
    const std::string folder = separator == std::string::npos ? "" : target.substr(0, separator + 1);
    const std::string name = separator == std::string::npos ? target : target.substr(separator + 1);
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    return folder + "." + stem + ".partial-" + std::to_string(processId) + extension;
}

std::string folderOf(const std::string& path)
{
    const size_t separator = path.find_last_of("/\\");
    if (separator == std::string::npos)
        return ".";
    return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

void removeQuietly(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

bool canWriteIn(const std::string& folder)
{
    const std::string probe = folder + "/.demo-probe-" + std::to_string(Platform::processId());
    std::ofstream file(probe, std::ios::binary);
    if (!file) {
        std::error_code error;
        const bool exists = std::filesystem::is_directory(folder, error);
        std::fprintf(stderr, "demo: cannot write in \"%s\": %s\n", folder.c_str(),
                     exists ? "permission denied" : "no such folder");
        return false;
    }
    file.close();
    removeQuietly(probe);
    return true;
}

bool canWriteFile(const std::string& file)
{
    if (!canWriteIn(folderOf(file)))
        return false;
    std::error_code error;
    if (!std::filesystem::is_directory(file, error))
        return true;
    std::fprintf(stderr, "demo: could not write \"%s\": it is a folder\n", file.c_str());
    return false;
}

bool moveIntoPlace(const std::string& partial, const std::string& target)
{
    std::error_code error;
    std::filesystem::rename(partial, target, error);
    if (!error)
        return true;
    removeQuietly(partial);
    std::fprintf(stderr, "demo: could not write \"%s\": %s\n", target.c_str(), error.message().c_str());
    return false;
}
