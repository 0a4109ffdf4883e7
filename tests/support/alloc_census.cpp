// LD_PRELOAD shim for tests: counts the heap allocations a program's main thread makes in its
// frame loop, by the library that asked for them. A frame ends at each glXSwapBuffers (the live
// show) or glFlush (a capture hands each frame's read-back to the driver with one). Only whole
// frames between two such ends count, from the end of the second frame on (every lazy first-use
// allocation is then behind) to the last: start-up and shut-down are left out. An allocation belongs to the
// first library on its call stack that is not the C or C++ runtime (so operator new called from
// the program counts as the program's). At exit the census goes to the file ALLOC_CENSUS_LOG
// names, one "name count" line per library after a "frames N" line.

#include <dlfcn.h>
#include <execinfo.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
}

namespace {

// Names are copied: a library unloaded before exit takes its own copy of its name along.
struct Module {
    char name[64];
    long allocations; // in whole frames
    long pending;     // in the frame under way
};

constexpr int moduleCapacity = 64;
Module modules[moduleCapacity];
int moduleCount = 0;
long frames = 0;
bool counting = false;
thread_local bool inside = false;

bool isRuntime(const char* path)
{
    const char* name = std::strrchr(path, '/');
    name = name != nullptr ? name + 1 : path;
    for (const char* runtime : {"libc.so", "libstdc++.so", "libgcc_s.so", "libm.so", "ld-linux", "liballoc_census"})
        if (std::strncmp(name, runtime, std::strlen(runtime)) == 0)
            return true;
    return false;
}

void record()
{
    if (!counting || inside || gettid() != getpid())
        return;
    inside = true; // the unwinder may allocate
    void* stack[24];
    const int depth = backtrace(stack, 24);
    const char* owner = "unknown";
    for (int i = 1; i < depth; ++i) {
        Dl_info info{};
        if (dladdr(stack[i], &info) != 0 && info.dli_fname != nullptr && !isRuntime(info.dli_fname)) {
            owner = info.dli_fname;
            break;
        }
    }
    const char* slash = std::strrchr(owner, '/');
    const char* name = slash != nullptr ? slash + 1 : owner;
    int m = 0;
    while (m < moduleCount && std::strncmp(modules[m].name, name, sizeof modules[m].name - 1) != 0)
        ++m;
    if (m == moduleCount && moduleCount < moduleCapacity)
        std::strncpy(modules[moduleCount++].name, name, sizeof modules[m].name - 1);
    if (m < moduleCount)
        ++modules[m].pending;
    inside = false;
}

void endFrame()
{
    if (gettid() != getpid())
        return;
    ++frames;
    for (int m = 0; m < moduleCount; ++m) {
        modules[m].allocations += modules[m].pending;
        modules[m].pending = 0;
    }
    counting = frames >= 2;
}

__attribute__((constructor)) void primeUnwinder()
{
    // The first backtrace loads the unwinder, which allocates: do it before anything counts.
    inside = true;
    void* stack[4];
    backtrace(stack, 4);
    inside = false;
}

__attribute__((destructor)) void writeCensus()
{
    counting = false;
    // Child processes inherit the preload; only the one that drew frames writes.
    const char* path = std::getenv("ALLOC_CENSUS_LOG");
    if (path == nullptr || frames == 0)
        return;
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr)
        return;
    std::fprintf(file, "frames %ld\n", frames > 2 ? frames - 2 : 0);
    for (int m = 0; m < moduleCount; ++m)
        std::fprintf(file, "%s %ld\n", modules[m].name, modules[m].allocations);
    std::fclose(file);
}

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void* malloc(std::size_t size)
{
    record();
    return __libc_malloc(size);
}

__attribute__((visibility("default"))) void* calloc(std::size_t count, std::size_t size)
{
    record();
    return __libc_calloc(count, size);
}

__attribute__((visibility("default"))) void* realloc(void* pointer, std::size_t size)
{
    record();
    return __libc_realloc(pointer, size);
}

__attribute__((visibility("default"))) void glXSwapBuffers(void* display, unsigned long drawable)
{
    static const auto swap = next<void (*)(void*, unsigned long)>("glXSwapBuffers");
    if (swap != nullptr)
        swap(display, drawable);
    endFrame();
}

__attribute__((visibility("default"))) void glFlush()
{
    static const auto flush = next<void (*)()>("glFlush");
    if (flush != nullptr)
        flush();
    endFrame();
}

} // extern "C"
