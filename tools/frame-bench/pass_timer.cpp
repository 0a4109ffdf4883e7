// LD_PRELOAD shim: times every glDrawElements and glClear of the process it is loaded into on
// its own, as the wall time from a glFinish just before the call to a glFinish just after it.
// On a software rasteriser such as llvmpipe, whose timer queries cover only part of the work,
// this isolates what each draw costs the rasteriser. glXSwapBuffers marks the frames. The log
// goes to the file FRAME_BENCH_PASS_LOG names, written once at exit, one call a line:
//   frame D|C nanoseconds        (D a draw, C a clear; frames counted from 0)

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

typedef XID GLXDrawable;
typedef unsigned int GLenum;
typedef unsigned int GLbitfield;
typedef int GLsizei;

namespace {

struct Call {
    std::uint32_t frame;
    char kind;
    std::int64_t nanoseconds;
};

constexpr std::size_t capacity = 1 << 18;
Call calls[capacity];
std::size_t callCount = 0;
std::uint32_t frame = 0;

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

void finish()
{
    static const auto glFinishNext = next<void (*)()>("glFinish");
    if (glFinishNext != nullptr)
        glFinishNext();
}

std::int64_t now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

template <typename Issue>
void timed(char kind, Issue&& issue)
{
    finish();
    const std::int64_t start = now();
    issue();
    finish();
    const std::int64_t stop = now();
    if (callCount < capacity)
        calls[callCount++] = Call{frame, kind, stop - start};
}

__attribute__((destructor)) void writeLog()
{
    const char* path = std::getenv("FRAME_BENCH_PASS_LOG");
    std::FILE* file = path != nullptr ? std::fopen(path, "w") : nullptr;
    if (file == nullptr)
        return;
    for (std::size_t i = 0; i < callCount; ++i)
        std::fprintf(file, "%u %c %lld\n", calls[i].frame, calls[i].kind, static_cast<long long>(calls[i].nanoseconds));
    std::fclose(file);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void glDrawElements(GLenum mode, GLsizei count, GLenum type, const void* indices)
{
    static const auto draw = next<void (*)(GLenum, GLsizei, GLenum, const void*)>("glDrawElements");
    timed('D', [&] { draw(mode, count, type, indices); });
}

__attribute__((visibility("default"))) void glClear(GLbitfield mask)
{
    static const auto clear = next<void (*)(GLbitfield)>("glClear");
    timed('C', [&] { clear(mask); });
}

__attribute__((visibility("default"))) void glXSwapBuffers(Display* display, GLXDrawable drawable)
{
    static const auto swap = next<void (*)(Display*, GLXDrawable)>("glXSwapBuffers");
    swap(display, drawable);
    ++frame;
}

} // extern "C"
