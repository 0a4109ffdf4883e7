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
                && (std::strstr(name, "_dri.so") != nullptr || std::strstr(name, "libgallium") != nullptr))
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

void GLTest::SetUpTestSuite()
{
    // Same request as the demo: 3.0 with default attributes, which Mesa answers with its
    // compatibility profile.
    sf::ContextSettings settings(24, 8, 0, 3, 0);
    context = std::make_unique<sf::Context>(settings, 64, 64);
    context->setActive(true);
    glewExperimental = GL_TRUE;
    glewInit();
    keepGraphicsDriverLoaded();
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

std::unique_ptr<float[]> readPixels(int x, int y, int width, int height)
{
    std::unique_ptr<float[]> pixels(new float[static_cast<size_t>(width) * height * 4]);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_RGBA, GL_FLOAT, pixels.get());
    return pixels;
}

} // namespace KestTest
