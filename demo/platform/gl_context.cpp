#include "platform.h"

#include <GL/glew.h>

#include <cstdio>

namespace Platform {

sf::ContextSettings showContextSettings()
{
    sf::ContextSettings settings;
    settings.depthBits = 24;
    settings.stencilBits = 8;
    settings.antialiasingLevel = 0;
    settings.majorVersion = 3;
    settings.minorVersion = 0;
    settings.attributeFlags = sf::ContextSettings::Default;
    settings.sRgbCapable = false;
    return settings;
}

GLVersion parseGLVersion(const char* versionString)
{
    GLVersion version;
    if (versionString == nullptr || std::sscanf(versionString, "%d.%d", &version.major, &version.minor) != 2)
        return GLVersion{};
    return version;
}

bool loadGLEntryPoints()
{
    glewExperimental = GL_TRUE;
    glewInit();
    const GLVersion version = parseGLVersion(reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    if (supportsShaders(version))
        return true;
    std::fprintf(stderr, "demo: OpenGL 3.3 or later is needed, but the context is OpenGL %d.%d\n", version.major,
                 version.minor);
    return false;
}

} // namespace Platform
