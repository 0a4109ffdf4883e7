#include "gl_version.h"

#include <cstdio>

GLVersion parseGLVersion(const char* versionString)
{
    GLVersion version;
    if (versionString == nullptr || std::sscanf(versionString, "%d.%d", &version.major, &version.minor) != 2)
        return GLVersion{};
    return version;
}
