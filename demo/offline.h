#pragma once

#include "options.h"
#include "platform.h"

// --still, --capture and --bench: the show rendered off-screen at exact times, with no window
// on the screen. Returns the exit status.
int runOffline(const Options& options, const Platform::StopRequests& stop);
