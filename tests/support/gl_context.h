#pragma once

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <memory>

namespace sf { class Context; }

namespace KestTest {

// Base fixture of the suites that need OpenGL: one real context per suite, made current
// before the first test and released after the last. Needs an X display (Xvfb).
class GLTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

private:
    static std::unique_ptr<sf::Context> context;
};

// Reads back the colour attachment of the bound read framebuffer as RGBA floats.
std::unique_ptr<float[]> readPixels(int x, int y, int width, int height);

} // namespace KestTest
