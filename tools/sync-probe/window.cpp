#include "window.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace SyncWindow {

namespace {

Window windowNamed(Display* display, const char* prefix)
{
    Window root = 0, parent = 0, found = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) && name != nullptr) {
            if (std::strncmp(name, prefix, std::strlen(prefix)) == 0)
                found = children[i];
            XFree(name);
        }
    }
    if (children != nullptr)
        XFree(children);
    return found;
}

} // namespace

bool centre(const char* titlePrefix)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "sync-probe: no X display\n");
        return false;
    }
    const Window window = windowNamed(display, titlePrefix);
    XWindowAttributes attributes{};
    const bool ok = window != 0 && XGetWindowAttributes(display, window, &attributes);
    if (ok) {
        const Screen* screen = DefaultScreenOfDisplay(display);
        XMoveWindow(display, window, (WidthOfScreen(screen) - attributes.width) / 2,
                    (HeightOfScreen(screen) - attributes.height) / 2);
        XSync(display, False);
    } else {
        std::fprintf(stderr, "sync-probe: no window named %s...\n", titlePrefix);
    }
    XCloseDisplay(display);
    return ok;
}

bool type(const char* titlePrefix, const char* const* keys, int count, double gapSeconds)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "sync-probe: no X display\n");
        return false;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    const Window window = windowNamed(display, titlePrefix);
    const bool ok = window != 0 && XTestQueryExtension(display, &event, &error, &major, &minor);
    if (!ok)
        std::fprintf(stderr, "sync-probe: no window named %s..., or no XTEST\n", titlePrefix);
    for (int i = 0; ok && i < count; ++i) {
        // Again before each key: the show may have lost the focus in between.
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(keys[i]));
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        XSync(display, False);
        if (i + 1 < count)
            std::this_thread::sleep_for(std::chrono::duration<double>(gapSeconds));
    }
    XCloseDisplay(display);
    return ok;
}

} // namespace SyncWindow
