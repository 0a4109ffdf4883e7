#pragma once

#include "platform.h"

#include <memory>

namespace Platform {

// Keeps the display on while the show plays, as video players do, and lets it sleep again while
// paused and once this is gone, however the process ends: nothing it asks of the system outlives
// the process. One source per system; the README's "Unattended" section says how and why.
class DisplayKeptOn {
public:
    explicit DisplayKeptOn(const DisplayConnection& display);
    ~DisplayKeptOn();
    DisplayKeptOn(const DisplayKeptOn&) = delete;
    DisplayKeptOn& operator=(const DisplayKeptOn&) = delete;

    // Once a frame, with the free-running clock in seconds. Acts on a change of `playing` and
    // once a second; never waits for the session bus, and for the display only when the play
    // begins (is it asleep?).
    void update(bool playing, double seconds);

private:
    struct State; // the system's own
    std::unique_ptr<State> state;
};

} // namespace Platform
