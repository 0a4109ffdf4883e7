#pragma once

#include "options.h"

// Plays what the command line asked for: the live show, a still, a capture or the benchmark,
// or prints the problem with the command line, the help or the version. Returns the exit
// status.
int runPlayer(const ParsedOptions& parsed);
