#include "platform.h"

namespace Platform {

// A Windows session always has a desktop to open a window on.
bool displayAvailable()
{
    return true;
}

} // namespace Platform
