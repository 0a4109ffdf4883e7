#pragma once

#include <memory>
#include <string>

namespace Platform {

// The desktop's screen-saver inhibit on a session bus (org.freedesktop.ScreenSaver), kept by a
// thread of its own so that its caller never waits on the bus: Inhibit while wanted, the cookie
// handed back when not, and taken again when the service appears or comes back. libdbus is
// loaded at run time; without it, or without a bus, this does nothing. POSIX only.
class ScreenSaverInhibit {
public:
    // `address`: the bus's, as DBUS_SESSION_BUS_ADDRESS gives it; empty for none.
    explicit ScreenSaverInhibit(const std::string& address);
    // Hands the cookie back where the bus takes it within a moment, and leaves the bus, which
    // ends the inhibit anyway. Never waits more than a second, however the bus is.
    ~ScreenSaverInhibit();
    ScreenSaverInhibit(const ScreenSaverInhibit&) = delete;
    ScreenSaverInhibit& operator=(const ScreenSaverInhibit&) = delete;

    // Takes a lock that the bus's thread holds only between its calls: returns at once.
    void want(bool inhibited);

    struct Keeper;

private:
    // Shared with the thread, which outlives this where the bus does not let it go in time.
    std::shared_ptr<Keeper> keeper;
};

} // namespace Platform
