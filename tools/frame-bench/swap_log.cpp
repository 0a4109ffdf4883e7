// LD_PRELOAD shim: logs every glXSwapBuffers of the process it is loaded into, so the real demo
// can be measured without changing it. For each swap it keeps the wall-clock time (CLOCK_REALTIME,
// comparable with the launch time a script takes) and the calling thread's CPU time, both at
// entry and at return. The log goes to the file FRAME_BENCH_SWAP_LOG names, written once at
// exit so the frame loop pays only for four clock reads per frame:
//   entry_wall_ns return_wall_ns entry_thread_cpu_ns return_thread_cpu_ns

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

typedef XID GLXDrawable;

namespace {

struct Swap {
    std::int64_t entryWall, returnWall, entryCpu, returnCpu;
};

constexpr std::size_t capacity = 1 << 17; // over 20 minutes at 100 frames per second
Swap swaps[capacity];
std::size_t swapCount = 0;

std::int64_t nanoseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

__attribute__((destructor)) void writeLog()
{
    const char* path = std::getenv("FRAME_BENCH_SWAP_LOG");
    if (path == nullptr)
        return;
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr)
        return;
    for (std::size_t i = 0; i < swapCount && i < capacity; ++i)
        std::fprintf(file, "%lld %lld %lld %lld\n", static_cast<long long>(swaps[i].entryWall),
                     static_cast<long long>(swaps[i].returnWall), static_cast<long long>(swaps[i].entryCpu),
                     static_cast<long long>(swaps[i].returnCpu));
    std::fclose(file);
}

} // namespace

extern "C" __attribute__((visibility("default"))) void glXSwapBuffers(Display* display, GLXDrawable drawable)
{
    using SwapFunction = void (*)(Display*, GLXDrawable);
    static const auto next = reinterpret_cast<SwapFunction>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
    Swap swap{};
    swap.entryCpu = nanoseconds(CLOCK_THREAD_CPUTIME_ID);
    swap.entryWall = nanoseconds(CLOCK_REALTIME);
    if (next != nullptr)
        next(display, drawable);
    swap.returnWall = nanoseconds(CLOCK_REALTIME);
    swap.returnCpu = nanoseconds(CLOCK_THREAD_CPUTIME_ID);
    if (swapCount < capacity)
        swaps[swapCount] = swap;
    ++swapCount;
}
