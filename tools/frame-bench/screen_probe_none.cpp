#include "screen_probe.h"

namespace ScreenProbe {

bool requestClose(const char*)
{
    return false;
}

double waitForPicture(double)
{
    return -1.0;
}

} // namespace ScreenProbe
