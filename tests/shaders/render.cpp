#include "render.h"

#include "support/gl_context.h"

#include "assets/vertex_attributes.h"

#include <cmath>
#include <cstddef>
#include <iostream>
#include <sstream>

namespace ShaderTest {

FloatTarget::FloatTarget(int width, int height, bool withDepth)
    : target(static_cast<unsigned>(width), static_cast<unsigned>(height),
             GL_COLOR_BUFFER_BIT | (withDepth ? GL_DEPTH_BUFFER_BIT : 0))
    , colour(makeFloatTexture(width, height, {}, GL_NEAREST))
{
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour.id, 0);
}

void FloatTarget::bindAndClear(const glm::vec4& clearColour) const
{
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    target.bind();
    glClearColor(clearColour.r, clearColour.g, clearColour.b, clearColour.a);
    glClearDepth(1.0);
    glClear(target.buffers);
}

std::vector<glm::vec4> FloatTarget::read() const
{
    return read(0, 0, static_cast<int>(target.width), static_cast<int>(target.height));
}

std::vector<glm::vec4> FloatTarget::read(int x, int y, int width, int height) const
{
    glBindFramebuffer(GL_READ_FRAMEBUFFER, target.framebuffer);
    auto raw = KestTest::readPixels(x, y, width, height);
    std::vector<glm::vec4> pixels(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = glm::vec4(raw[4 * i], raw[4 * i + 1], raw[4 * i + 2], raw[4 * i + 3]);
    return pixels;
}

Kest::Texture makeFloatTexture(int width, int height, const std::vector<glm::vec4>& texels,
                               GLint filter)
{
    Kest::Texture texture;
    glGenTextures(1, &texture.id);
    glBindTexture(GL_TEXTURE_2D, texture.id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT,
                 texels.empty() ? nullptr : texels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return texture;
}

glm::vec2 pixelTexCoords(int x, int y, int width, int height)
{
    return glm::vec2((static_cast<float>(x) + 0.5f) / static_cast<float>(width),
                     (static_cast<float>(y) + 0.5f) / static_cast<float>(height));
}

glm::vec2 pixelClipPosition(int x, int y, int width, int height)
{
    return 2.0f * pixelTexCoords(x, y, width, height) - 1.0f;
}

void Position2Vertex::initAttributes(Kest::ShaderProgram& program)
{
    Assets::enableFloatAttribute(program, "position", 2, sizeof(Position2Vertex), 0);
}

void GlitterVertex::initAttributes(Kest::ShaderProgram& program)
{
    Assets::enableFloatAttribute(program, "position", 3, sizeof(GlitterVertex), offsetof(GlitterVertex, position));
    Assets::enableFloatAttribute(program, "normal", 3, sizeof(GlitterVertex), offsetof(GlitterVertex, normal));
    Assets::enableFloatAttribute(program, "colour", 3, sizeof(GlitterVertex), offsetof(GlitterVertex, colour));
}

void fillQuad(Kest::Part& part, float low, float high)
{
    const Position2Vertex vertices[] = {{{low, low}}, {{high, low}}, {{low, high}}, {{high, high}}};
    const GLuint elements[] = {0, 1, 2, 2, 1, 3};
    part.setMesh(vertices, elements);
}

std::string describe(const glm::vec3& v)
{
    std::ostringstream out;
    out.precision(7);
    out << "(" << v.x << ", " << v.y << ", " << v.z << ")";
    return out.str();
}

void PixelComparison::check(int x, int y, const glm::vec3& gpu, const glm::vec3& expected, const glm::vec3& spread)
{
    for (int c = 0; c < 3; ++c) {
        const float difference = std::fabs(gpu[c] - expected[c]);
        const float allowed = absoluteTolerance + relativeTolerance * std::fabs(expected[c]) + 2.0f * spread[c];
        const std::string place = std::to_string(x) + "," + std::to_string(y);
        absolute.record(difference, place);
        relative.record(difference / allowed, place + " gpu " + describe(gpu) + " cpu " + describe(expected));
        if (difference > allowed && failures++ < 5)
            ADD_FAILURE() << name << " pixel " << place << " channel " << c << ": gpu " << gpu[c] << ", cpu "
                          << expected[c];
    }
}

void PixelComparison::report(const char* what) const
{
    std::cout << "[ deviation ] " << what << " " << name << ": " << absolute.largest << " at " << absolute.where
              << "; " << relative.largest << " of the tolerance at " << relative.where << "\n";
}

} // namespace ShaderTest
