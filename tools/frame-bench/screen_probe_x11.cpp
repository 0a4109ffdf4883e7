#include "screen_probe.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace ScreenProbe {
namespace {

double wallSeconds()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

bool anyLitPixel(XImage& image)
{
    for (int y = 0; y < image.height; ++y) {
        if (image.bits_per_pixel == 32 && image.depth == 24) {
            // The usual screen: one word per pixel whose most significant byte is unused.
            const auto* row = reinterpret_cast<const unsigned char*>(image.data) + static_cast<long>(y) * image.bytes_per_line;
            const int colour = image.byte_order == LSBFirst ? 0 : 1;
            for (int x = 0; x < image.width; ++x)
                if ((row[4 * x + colour] | row[4 * x + colour + 1] | row[4 * x + colour + 2]) != 0)
                    return true;
        } else {
            for (int x = 0; x < image.width; ++x)
                if ((XGetPixel(&image, x, y) & (image.red_mask | image.green_mask | image.blue_mask)) != 0)
                    return true;
        }
    }
    return false;
}

} // namespace

bool requestClose(const char* title)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    bool sent = false;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            char* name = nullptr;
            if (XFetchName(display, children[i], &name) && name != nullptr) {
                if (std::strcmp(name, title) == 0) {
                    XEvent event{};
                    event.xclient.type = ClientMessage;
                    event.xclient.window = children[i];
                    event.xclient.message_type = protocols;
                    event.xclient.format = 32;
                    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
                    event.xclient.data.l[1] = CurrentTime;
                    sent = XSendEvent(display, children[i], False, NoEventMask, &event) != 0 || sent;
                }
                XFree(name);
            }
        }
        if (children != nullptr)
            XFree(children);
    }
    XSync(display, False);
    XCloseDisplay(display);
    return sent;
}

double waitForPicture(double timeoutSeconds)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return -1.0;
    int damageEvent = 0, damageError = 0;
    if (!XDamageQueryExtension(display, &damageEvent, &damageError)) {
        XCloseDisplay(display);
        return -1.0;
    }
    const Window root = DefaultRootWindow(display);
    const unsigned width = static_cast<unsigned>(DisplayWidth(display, DefaultScreen(display)));
    const unsigned height = static_cast<unsigned>(DisplayHeight(display, DefaultScreen(display)));
    // The server says when the screen changes; it is grabbed then and only then, so the watch
    // takes no time from the program it watches between its pictures.
    const Damage damage = XDamageCreate(display, root, XDamageReportNonEmpty);
    const double deadline = wallSeconds() + timeoutSeconds;
    double seen = -1.0;
    bool changed = true; // the screen as it is at the start is looked at once
    while (seen < 0.0 && wallSeconds() < deadline) {
        if (changed) {
            // Cleared before the grab: a change that comes after it is reported again.
            XDamageSubtract(display, damage, None, None);
            // The picture was there by the time the grab came back: an upper bound, late by at
            // most one grab.
            XImage* image = XGetImage(display, root, 0, 0, width, height, AllPlanes, ZPixmap);
            const double returned = wallSeconds();
            if (image != nullptr) {
                if (anyLitPixel(*image))
                    seen = returned;
                XDestroyImage(image);
            }
            changed = false;
            continue;
        }
        if (XPending(display) == 0) {
            pollfd connection{ConnectionNumber(display), POLLIN, 0};
            poll(&connection, 1, std::max(1, static_cast<int>((deadline - wallSeconds()) * 1e3)));
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        changed = event.type == damageEvent + XDamageNotify;
    }
    XDamageDestroy(display, damage);
    XCloseDisplay(display);
    return seen;
}

} // namespace ScreenProbe
