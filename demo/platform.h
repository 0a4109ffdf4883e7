#pragma once

// Checks the windowing library cannot make for itself without aborting the process.
namespace Platform {

// A connection to the display the window will open on (on X11: the one DISPLAY names), held
// while it lives. Holding it keeps a display server that has no other client from resetting
// between this check and the window's own connection.
class DisplayConnection {
public:
    DisplayConnection();
    ~DisplayConnection();
    DisplayConnection(const DisplayConnection&) = delete;
    DisplayConnection& operator=(const DisplayConnection&) = delete;

    // False when no window can be opened at all.
    bool available() const;

private:
    void* handle = nullptr;
};

} // namespace Platform
