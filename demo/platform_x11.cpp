#include "platform.h"

#include <X11/Xlib.h>

namespace Platform {

DisplayConnection::DisplayConnection()
    : handle(XOpenDisplay(nullptr))
{
}

DisplayConnection::~DisplayConnection()
{
    if (handle != nullptr)
        XCloseDisplay(static_cast<Display*>(handle));
}

bool DisplayConnection::available() const
{
    return handle != nullptr;
}

} // namespace Platform
