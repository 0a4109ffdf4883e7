#include "platform/platform.h"

#include <gtest/gtest.h>

namespace {

using namespace Platform;

TEST(GLVersionTest, ParsesVersionStringsAndRequires33)
{
    const GLVersion mesa = parseGLVersion("4.5 (Compatibility Profile) Mesa 22.3.6");
    EXPECT_EQ(mesa.major, 4);
    EXPECT_EQ(mesa.minor, 5);
    EXPECT_TRUE(supportsShaders(mesa));
    EXPECT_TRUE(supportsShaders(parseGLVersion("3.3.0 NVIDIA 535.1")));
    EXPECT_FALSE(supportsShaders(parseGLVersion("3.2 Mesa")));
    EXPECT_FALSE(supportsShaders(parseGLVersion("2.1 Mesa 22.3.6")));
    EXPECT_FALSE(supportsShaders(parseGLVersion(nullptr)));
    EXPECT_FALSE(supportsShaders(parseGLVersion("garbage")));
}

} // namespace
