#include "platform.h"

#include <GL/glew.h>

#include <cstdio>

namespace Platform {

sf::ContextSettings showContextSettings(bool debug)
{
    sf::ContextSettings settings;
    settings.depthBits = 24;
    settings.stencilBits = 8;
    settings.antialiasingLevel = 0;
    settings.majorVersion = 3;
    settings.minorVersion = 0;
    settings.attributeFlags = debug ? sf::ContextSettings::Debug : sf::ContextSettings::Default;
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

namespace {

void GLAPIENTRY reportError(GLenum, GLenum type, GLuint, GLenum, GLsizei, const GLchar* message, const void* report)
{
    if (type != GL_DEBUG_TYPE_ERROR)
        return;
    ++*static_cast<int*>(const_cast<void*>(report));
    std::fprintf(stderr, "demo: OpenGL error: %s\n", message);
}

} // namespace

GLErrorReport::GLErrorReport()
{
    listening = GLEW_VERSION_4_3 || GLEW_KHR_debug;
    if (!listening) {
        std::fprintf(stderr, "demo: this OpenGL has no debug output (KHR_debug), so its errors go unreported\n");
        return;
    }
    // Synchronous, so that each error is reported from the call that raised it, on this thread.
    glDebugMessageCallback(reportError, &count);
    glEnable(GL_DEBUG_OUTPUT);
    glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
}

GLErrorReport::~GLErrorReport()
{
    if (!listening)
        return;
    glDisable(GL_DEBUG_OUTPUT);
    glDebugMessageCallback(nullptr, nullptr);
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
