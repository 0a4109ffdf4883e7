#include "platform.h"

namespace Platform {

// A Windows session always has a desktop to open a window on.
DisplayConnection::DisplayConnection() = default;
DisplayConnection::~DisplayConnection() = default;

bool DisplayConnection::available() const
{
    return true;
}

} // namespace Platform
