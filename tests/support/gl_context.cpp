#include "gl_context.h"

#include <SFML/Window/Context.hpp>

#if defined(__linux__)
#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>
#include <vector>
#endif

namespace KestTest {

std::unique_ptr<sf::Context> GLTest::context;

namespace {

// Keeps the GL driver's libraries loaded until the process ends. The leak checker runs at
// exit, after the context's teardown has unloaded the driver; allocations the driver keeps
// would then show up without a module name, beyond the reach of the suppressions for the
// graphics libraries. Call with a current context.
void keepGraphicsDriverLoaded()
{
#if defined(__linux__)
    std::vector<std::string> drivers;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
            const char* name = info->dlpi_name;
            if (name != nullptr
                && (std::strstr(name, "_dri.so") != nullptr || std::strstr(name, "libgallium") != nullptr
                    || std::strstr(name, "libvulkan") != nullptr)) // zink's Vulkan loader and driver
                static_cast<std::vector<std::string>*>(found)->emplace_back(name);
            return 0;
        },
        &drivers);
    for (const std::string& driver : drivers) {
        // RTLD_NODELETE on a loaded library pins it; the handle is deliberately kept.
        dlopen(driver.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
#endif
}

} // namespace

namespace {

int expectedErrorScopes = 0;

void GLAPIENTRY failOnError(GLenum, GLenum type, GLuint, GLenum, GLsizei, const GLchar* message, const void*)
{
    if (type == GL_DEBUG_TYPE_ERROR && expectedErrorScopes == 0)
        ADD_FAILURE() << "OpenGL error: " << message;
}

} // namespace

ExpectGLErrors::ExpectGLErrors()
{
    ++expectedErrorScopes;
}

ExpectGLErrors::~ExpectGLErrors()
{
    --expectedErrorScopes;
}

void GLTest::SetUpTestSuite()
{
    // The demo's request, 3.0 with default attributes, which Mesa answers with its compatibility
    // profile; a debug one, as demo --gl-errors asks, so that the driver reports all it can.
    sf::ContextSettings settings(24, 8, 0, 3, 0, sf::ContextSettings::Debug);
    context = std::make_unique<sf::Context>(settings, 64, 64);
    context->setActive(true);
    glewExperimental = GL_TRUE;
    glewInit();
    keepGraphicsDriverLoaded();
    if (GLEW_VERSION_4_3 || GLEW_KHR_debug) {
        // Synchronous: the error is reported inside the call that raised it, in its test.
        glDebugMessageCallback(failOnError, nullptr);
        glEnable(GL_DEBUG_OUTPUT);
        glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
    }
}

void GLTest::TearDownTestSuite()
{
    context.reset();
}

void GLTest::SetUp()
{
    ASSERT_TRUE(context) << "no GL context";
    ASSERT_NE(glGetString(GL_VERSION), nullptr) << "no current GL context";
}

namespace {

int trapped = 0;

void GLAPIENTRY countNamedBufferData(GLuint, GLsizeiptr, const void*, GLenum) { ++trapped; }
void GLAPIENTRY countClearDepthf(GLfloat) { ++trapped; }
void GLAPIENTRY countDepthRangef(GLfloat, GLfloat) { ++trapped; }

} // namespace

WithoutNewerGL::WithoutNewerGL()
    : version41(__GLEW_VERSION_4_1)
    , version45(__GLEW_VERSION_4_5)
    , es2Compatibility(__GLEW_ARB_ES2_compatibility)
    , directStateAccess(__GLEW_ARB_direct_state_access)
    , namedBufferData(__glewNamedBufferData)
    , clearDepthf(__glewClearDepthf)
    , depthRangef(__glewDepthRangef)
{
    trapped = 0;
    __GLEW_VERSION_4_1 = __GLEW_VERSION_4_5 = GL_FALSE;
    __GLEW_ARB_ES2_compatibility = __GLEW_ARB_direct_state_access = GL_FALSE;
    __glewNamedBufferData = countNamedBufferData;
    __glewClearDepthf = countClearDepthf;
    __glewDepthRangef = countDepthRangef;
}

WithoutNewerGL::~WithoutNewerGL()
{
    __GLEW_VERSION_4_1 = version41;
    __GLEW_VERSION_4_5 = version45;
    __GLEW_ARB_ES2_compatibility = es2Compatibility;
    __GLEW_ARB_direct_state_access = directStateAccess;
    __glewNamedBufferData = namedBufferData;
    __glewClearDepthf = clearDepthf;
    __glewDepthRangef = depthRangef;
}

int WithoutNewerGL::trappedCalls()
{
    return trapped;
}

std::unique_ptr<float[]> readPixels(int x, int y, int width, int height)
{
    std::unique_ptr<float[]> pixels(new float[static_cast<size_t>(width) * height * 4]);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_RGBA, GL_FLOAT, pixels.get());
    return pixels;
}

} // namespace KestTest
