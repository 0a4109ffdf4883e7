#include "yuv420_pass.h"

#include "yuv420.h"

#include "show/show.h"

#include <cstdio>
#include <string>
#include <utility>

namespace {

// One triangle over the whole target.
const char* const vertexSource = R"(#version 330 core
void main()
{
    gl_Position = vec4(float((gl_VertexID & 1) << 2) - 1.0, float((gl_VertexID & 2) << 1) - 1.0, 0.0, 1.0);
}
)";

// convertToYuv420's arithmetic, in integers on the 8-bit values that texelFetch gives back as
// value / 255 (rounding recovers them exactly), written to an integer target so that no
// conversion from floating point can round them otherwise. Rows of the target from 0 up are the
// picture's rows from the top down (the canvas's from its height - 1 down), then the chroma
// planes, two chroma rows to a target row.
const char* const fragmentTemplate = R"(#version 330 core
uniform sampler2D picture;
layout(location = 0) out uint value;

ivec3 rgb(int x, int row, int height)
{
    return ivec3(round(texelFetch(picture, ivec2(x, height - 1 - row), 0).rgb * 255.0));
}

void main()
{
    ivec2 size = textureSize(picture, 0);
    int x = int(gl_FragCoord.x), row = int(gl_FragCoord.y);
    if (row < size.y) {
        ivec3 c = rgb(x, row, size.y);
        value = uint((%d * c.r + %d * c.g + %d * c.b + %d) >> %d);
        return;
    }
    int halfWidth = size.x / 2;
    int chromaRow = 2 * (row - size.y) + (x >= halfWidth ? 1 : 0);
    int i = x >= halfWidth ? x - halfWidth : x;
    bool red = chromaRow >= size.y / 2;
    int j = red ? chromaRow - size.y / 2 : chromaRow;
    ivec3 sum = ivec3(0);
    for (int k = 0; k < 2; ++k) {
        int y = 2 * j + k;
        sum += rgb(2 * i, y, size.y) + rgb(2 * i + 1, y, size.y);
    }
    ivec3 weights = red ? ivec3(%d, %d, %d) : ivec3(%d, %d, %d);
    value = uint((weights.r * sum.r + weights.g * sum.g + weights.b * sum.b + %d) >> %d);
}
)";

std::string fragmentSource()
{
    using namespace Yuv420;
    char text[2048];
    std::snprintf(text, sizeof text, fragmentTemplate, lumaRed, lumaGreen, lumaBlue, lumaOffset, shift,
                  redDifferenceRed, redDifferenceGreen, redDifferenceBlue, blueDifferenceRed, blueDifferenceGreen,
                  blueDifferenceBlue, chromaOffset, chromaShift);
    return text;
}

} // namespace

Yuv420Pass::Yuv420Pass(const Canvas& canvas)
    : width(static_cast<GLsizei>(canvas.width))
    , height(static_cast<GLsizei>(canvas.height + canvas.height / 2))
    , canvasTexture(canvas.colourTexture)
{
    {
        const Kest::Shader vertex(GL_VERTEX_SHADER, vertexSource);
        const std::string fragmentText = fragmentSource();
        const Kest::Shader fragment(GL_FRAGMENT_SHADER, fragmentText.c_str());
        program.attachShader(vertex).attachShader(fragment).link();
    }
    program.use();
    glUniform1i(program.getUniformLocation("picture"), 0);

    glGenRenderbuffers(1, &planes);
    glBindRenderbuffer(GL_RENDERBUFFER, planes);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_R8UI, width, height);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, planes);
    glGenVertexArrays(1, &vertexArray);
}

Yuv420Pass::Yuv420Pass(Yuv420Pass&& other) noexcept
    : framebuffer(other.framebuffer)
    , width(other.width)
    , height(other.height)
    , canvasTexture(other.canvasTexture)
    , program(std::move(other.program))
    , planes(other.planes)
    , vertexArray(other.vertexArray)
{
    other.framebuffer = other.planes = other.vertexArray = 0;
}

Yuv420Pass::~Yuv420Pass()
{
    // Each call ignores name 0, so a moved-from pass deletes nothing.
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &planes);
}

void Yuv420Pass::draw() const
{
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
    glUseProgram(program.id);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, canvasTexture);
    glBindVertexArray(vertexArray);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    // The canvas is drawn into next: left bound, it could be read while it is written.
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindVertexArray(0);
}
