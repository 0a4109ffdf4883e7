#include "display_kept_on.h"

#include <windows.h>

namespace Platform {

// Windows keeps the display on for a thread that says it needs it; the state holds until the
// thread says otherwise, and ends with the thread, however the process ends.
struct DisplayKeptOn::State {
    bool held = false;

    void hold(bool on)
    {
        held = on;
        SetThreadExecutionState(on ? ES_CONTINUOUS | ES_DISPLAY_REQUIRED : ES_CONTINUOUS);
    }
};

DisplayKeptOn::DisplayKeptOn(const DisplayConnection& /*display*/)
    : state(std::make_unique<State>())
{
}

DisplayKeptOn::~DisplayKeptOn()
{
    if (state->held)
        state->hold(false);
}

void DisplayKeptOn::update(bool playing, double /*seconds*/)
{
    if (playing != state->held)
        state->hold(playing);
}

} // namespace Platform
