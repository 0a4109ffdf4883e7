#pragma once

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <memory>

namespace sf { class Context; }

namespace KestTest {

// Base fixture of the suites that need OpenGL: one real context per suite, made current
// before the first test and released after the last. Needs an X display (Xvfb). Where the
// context has debug output (KHR_debug), any error the driver reports fails the running test.
class GLTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

private:
    static std::unique_ptr<sf::Context> context;
};

// While it lives, GL errors are expected (a test that breaks a shader on purpose): the suites'
// debug output, which fails the running test on any error the driver reports, lets them pass.
class ExpectGLErrors {
public:
    ExpectGLErrors();
    ~ExpectGLErrors();
    ExpectGLErrors(const ExpectGLErrors&) = delete;
    ExpectGLErrors& operator=(const ExpectGLErrors&) = delete;
};

// For its lifetime the context looks, to the engine, like a 3.3 one without direct state access
// or the single-precision depth calls: the loader's version and extension flags for them are
// cleared. Their entry points keep a pointer, as GLX hands one out for any name, but one that
// only counts its calls: code that chose by the pointer would be caught calling it.
class WithoutNewerGL {
public:
    WithoutNewerGL();
    ~WithoutNewerGL();
    WithoutNewerGL(const WithoutNewerGL&) = delete;
    WithoutNewerGL& operator=(const WithoutNewerGL&) = delete;

    // Calls that reached the counting entry points since construction.
    static int trappedCalls();

private:
    GLboolean version41, version45, es2Compatibility, directStateAccess;
    PFNGLNAMEDBUFFERDATAPROC namedBufferData;
    PFNGLCLEARDEPTHFPROC clearDepthf;
    PFNGLDEPTHRANGEFPROC depthRangef;
};

// Reads back the colour attachment of the bound read framebuffer as RGBA floats.
std::unique_ptr<float[]> readPixels(int x, int y, int width, int height);

} // namespace KestTest
