#pragma once

// Major and minor version parsed from a GL_VERSION string such as "4.5 (Compatibility Profile)
// Mesa 22.3.6"; {0, 0} when the string is null or malformed.
struct GLVersion {
    int major = 0;
    int minor = 0;
};

GLVersion parseGLVersion(const char* versionString);

// The shaders declare "#version 330".
inline bool supportsShaders(GLVersion version)
{
    return version.major > 3 || (version.major == 3 && version.minor >= 3);
}

// Loads the entry points beyond GL 1.1 for the current context and checks that it can run the
// shaders; when it cannot, says so in one line on standard error and returns false.
bool loadGLEntryPoints();
