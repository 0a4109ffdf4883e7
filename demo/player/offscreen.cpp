#include "offscreen.h"

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
