#include "platform.h"

#include <X11/Xlib.h>

namespace Platform {

bool displayAvailable()
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XCloseDisplay(display);
    return true;
}

} // namespace Platform
