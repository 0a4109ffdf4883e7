#include "command.h"

#include <cstdio>

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#else
#include <sys/wait.h>
#endif

namespace TestSupport {

std::string commandOutput(const std::string& command, int* status)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr)
            *status = -1;
        return output;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    const int result = pclose(pipe);
    if (status != nullptr) {
#ifdef _WIN32
        *status = result;
#else
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
#endif
    }
    return output;
}

} // namespace TestSupport
