#include "gl_context.h"

#include <SFML/Window/Context.hpp>

namespace KestTest {

std::unique_ptr<sf::Context> GLTest::context;

void GLTest::SetUpTestSuite()
{
    // Same request as the demo: 3.0 with default attributes, which Mesa answers with its
    // compatibility profile.
    sf::ContextSettings settings(24, 8, 0, 3, 0);
    context = std::make_unique<sf::Context>(settings, 64, 64);
    context->setActive(true);
    glewExperimental = GL_TRUE;
    glewInit();
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
