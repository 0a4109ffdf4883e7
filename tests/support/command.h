#pragma once

#include <string>

namespace TestSupport {

// Runs a command line of the test's own making through the shell and returns its standard
// output; its exit status goes to *status (-1 when it could not be run or did not exit).
std::string commandOutput(const std::string& command, int* status = nullptr);

} // namespace TestSupport
