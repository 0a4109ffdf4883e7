#include "display_kept_on.h"

#include "screen_saver_inhibit.h"

#include <cstdlib>
#include <string>

#include <dlfcn.h>

#include <X11/Xlib.h>

namespace Platform {

namespace {

template <typename Function>
bool find(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

constexpr unsigned short dpmsModeOn = 0;

// Libraries of X extensions, opened at run time since not every desktop has them. Never
// unloaded: an extension's library leaves hooks in the connection that Xlib calls when the
// connection closes, after this is gone.
void* openExtensionLibrary(const char* name)
{
    return dlopen(name, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

// Only a session that names its bus: libdbus would otherwise try to start one.
std::string sessionBusAddress()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return address != nullptr ? address : "";
}

} // namespace

// Only what the X server undoes or outlives by itself is asked of it: the screen saver suspended
// for this client (undone when its connection closes, however the process ends), the idle time
// reset, and a display already asleep woken. DPMS's settings are never touched.
struct DisplayKeptOn::State {
    Display* display = nullptr;
    bool held = false;
    double lastReset = -1.0e9;
    void (*suspendScreenSaver)(Display*, Bool) = nullptr;
    Bool (*dpmsInfo)(Display*, unsigned short*, unsigned char*) = nullptr;
    int (*dpmsForceLevel)(Display*, unsigned short) = nullptr;
    ScreenSaverInhibit desktop;

    explicit State(Display* display_)
        : display(display_)
        , desktop(sessionBusAddress())
    {
        if (void* saver = openExtensionLibrary("libXss.so.1"); saver != nullptr)
            find(saver, "XScreenSaverSuspend", suspendScreenSaver);
        // DPMS only where the server has it: its calls on a server without it are errors.
        int opcode = 0, event = 0, error = 0;
        if (!XQueryExtension(display, "DPMS", &opcode, &event, &error))
            return;
        if (void* extensions = openExtensionLibrary("libXext.so.6");
            extensions == nullptr || !find(extensions, "DPMSInfo", dpmsInfo) ||
            !find(extensions, "DPMSForceLevel", dpmsForceLevel))
            dpmsInfo = nullptr;
    }

    void hold(bool on)
    {
        held = on;
        if (suspendScreenSaver != nullptr)
            suspendScreenSaver(display, on ? True : False);
        desktop.want(on);
        if (on) {
            XResetScreenSaver(display);
            wakeIfAsleep();
        }
        XFlush(display);
    }

    // A display that DPMS put to sleep before the play began (the level is the server's own
    // question: asked only here, not every second).
    void wakeIfAsleep()
    {
        unsigned short level = dpmsModeOn;
        unsigned char enabled = 0;
        if (dpmsInfo != nullptr && dpmsInfo(display, &level, &enabled) && enabled && level != dpmsModeOn)
            dpmsForceLevel(display, dpmsModeOn);
    }
};

DisplayKeptOn::DisplayKeptOn(const DisplayConnection& connection)
{
    if (connection.handle != nullptr)
        state = std::make_unique<State>(static_cast<Display*>(connection.handle));
}

DisplayKeptOn::~DisplayKeptOn()
{
    if (state && state->held)
        state->hold(false);
}

void DisplayKeptOn::update(bool playing, double seconds)
{
    if (!state)
        return;
    if (playing != state->held)
        state->hold(playing);
    if (!state->held || seconds - state->lastReset < 1.0)
        return;
    // A reset restarts the server's idle time, so that a saver or power saving set to a few
    // seconds stays off even where the saver cannot be suspended. No reply is awaited.
    state->lastReset = seconds;
    XResetScreenSaver(state->display);
    XFlush(state->display);
}

} // namespace Platform
