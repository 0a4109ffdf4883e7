#include "yuv420_pass.h"

#include "yuv420.h"

#include "show/show.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr unsigned groupSize = 64;
// Work groups along x; more go along y, within every driver's 65535 a dimension.
constexpr unsigned groupsAcross = 16384;

// convertToYuv420's arithmetic, in integers on the 8-bit values that texelFetch gives back as
// value / 255 (rounding recovers them exactly). Each invocation makes one 4-byte word of the
// planes, so rows need not be a multiple of 4 wide: its first byte's place takes the one
// division, and the next bytes step on from it (a division costs a software rasteriser dearly).
// The luma plane ends on a word's end (width and height are even); bytes past the planes are 0.
// Where the width is a multiple of 8, each invocation makes a block's words instead, fetching
// each pixel once rather than twice.
const char* const computeTemplate = R"(#version 430 core
layout(local_size_x = %u) in;
layout(std430, binding = 0) writeonly buffer Planes { uint words[]; };
uniform sampler2D picture;
uniform uint invocations; // of words, or of blocks
uniform bool byBlocks;

ivec3 rgb(int x, int row, int height)
{
    return ivec3(round(texelFetch(picture, ivec2(x, height - 1 - row), 0).rgb * 255.0));
}

uint lumaOf(ivec3 c)
{
    return uint((%d * c.r + %d * c.g + %d * c.b + %d) >> %d);
}

// Cb, or Cr where `red`, of the sums of four pixels' red, green and blue.
uint chromaOf(ivec3 sum, bool red)
{
    ivec3 weights = red ? ivec3(%d, %d, %d) : ivec3(%d, %d, %d);
    return uint((weights.r * sum.r + weights.g * sum.g + weights.b * sum.b + %d) >> %d);
}

uint lumaWord(int first, ivec2 size)
{
    int row = first / size.x, x = first - row * size.x;
    uint word = 0u;
    for (int b = 0; b < 4; ++b) {
        word |= lumaOf(rgb(x, row, size.y)) << (8 * b);
        if (++x == size.x) {
            x = 0;
            ++row;
        }
    }
    return word;
}

uint chromaWord(int first, ivec2 size)
{
    int halfWidth = size.x / 2, chroma = halfWidth * (size.y / 2);
    bool red = first >= chroma;
    int k = red ? first - chroma : first;
    int j = k / halfWidth, i = k - j * halfWidth;
    uint word = 0u;
    for (int b = 0; b < 4 && (!red || k < chroma); ++b) {
        ivec3 sum = rgb(2 * i, 2 * j, size.y) + rgb(2 * i + 1, 2 * j, size.y) + rgb(2 * i, 2 * j + 1, size.y) +
                    rgb(2 * i + 1, 2 * j + 1, size.y);
        word |= chromaOf(sum, red) << (8 * b);
        ++k;
        if (++i == halfWidth) {
            i = 0;
            ++j;
        }
        if (!red && k == chroma) {
            red = true;
            k = i = j = 0;
        }
    }
    return word;
}

// A block 8 pixels wide and 2 tall: its two rows' four Y' words, and one word each of Cb and Cr.
// The planes' every word is some block's where the width is a multiple of 8.
void writeBlock(uint block, ivec2 size)
{
    int across = size.x / 8;
    int j = int(block) / across, i = int(block) - j * across;
    int x = 8 * i, row = 2 * j;
    uint luma[4] = uint[4](0u, 0u, 0u, 0u);
    uint cb = 0u, cr = 0u;
    for (int p = 0; p < 4; ++p) {
        ivec3 sum = ivec3(0);
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
                ivec3 c = rgb(x + 2 * p + dx, row + dy, size.y);
                sum += c;
                luma[2 * dy + p / 2] |= lumaOf(c) << (8 * (2 * (p %% 2) + dx));
            }
        cb |= chromaOf(sum, false) << (8 * p);
        cr |= chromaOf(sum, true) << (8 * p);
    }
    int top = (row * size.x + x) / 4, rowWords = size.x / 4;
    words[top] = luma[0];
    words[top + 1] = luma[1];
    words[top + rowWords] = luma[2];
    words[top + rowWords + 1] = luma[3];
    int chromaWords = size.x * size.y / 16, blue = size.x * size.y / 4 + j * (size.x / 8) + i;
    words[blue] = cb;
    words[blue + chromaWords] = cr;
}

void main()
{
    uint index = gl_GlobalInvocationID.y * gl_NumWorkGroups.x * gl_WorkGroupSize.x + gl_GlobalInvocationID.x;
    if (index >= invocations)
        return;
    ivec2 size = textureSize(picture, 0);
    if (byBlocks) {
        writeBlock(index, size);
        return;
    }
    int first = int(index) * 4, luma = size.x * size.y;
    words[index] = first < luma ? lumaWord(first, size) : chromaWord(first - luma, size);
}
)";

std::string computeSource()
{
    using namespace Yuv420;
    char text[4096];
    std::snprintf(text, sizeof text, computeTemplate, groupSize, lumaRed, lumaGreen, lumaBlue, lumaOffset, shift,
                  redDifferenceRed, redDifferenceGreen, redDifferenceBlue, blueDifferenceRed, blueDifferenceGreen,
                  blueDifferenceBlue, chromaOffset, chromaShift);
    return text;
}

} // namespace

bool Yuv420Pass::supported(unsigned width, unsigned height)
{
    if (!GLEW_VERSION_4_3 && !(GLEW_ARB_compute_shader && GLEW_ARB_shader_storage_buffer_object))
        return false;
    GLint largestBlock = 0;
    glGetIntegerv(GL_MAX_SHADER_STORAGE_BLOCK_SIZE, &largestBlock);
    // An int's worth at most: the shader indexes bytes with ints.
    return bufferBytes(width, height) <= static_cast<std::size_t>(largestBlock);
}

std::size_t Yuv420Pass::bufferBytes(unsigned width, unsigned height)
{
    return (Yuv420::frameBytes(width, height) + 3) / 4 * 4;
}

Yuv420Pass::Yuv420Pass(const Canvas& canvas)
    : canvasTexture(canvas.colourTexture)
    , byBlocks(canvas.width % 8 == 0)
    , invocations(byBlocks ? canvas.width / 8 * (canvas.height / 2)
                           : static_cast<unsigned>(bufferBytes(canvas.width, canvas.height) / 4))
{
    {
        const std::string text = computeSource();
        const Kest::Shader compute(GL_COMPUTE_SHADER, text.c_str());
        program.attachShader(compute).link();
    }
    program.use();
    glUniform1i(program.getUniformLocation("picture"), 0);
    glUniform1ui(program.getUniformLocation("invocations"), invocations);
    glUniform1i(program.getUniformLocation("byBlocks"), byBlocks ? 1 : 0);
}

void Yuv420Pass::convertInto(GLuint buffer) const
{
    glUseProgram(program.id);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, canvasTexture);
    glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 0, buffer);
    const unsigned groups = (invocations + groupSize - 1) / groupSize;
    const unsigned across = std::min(groups, groupsAcross);
    glDispatchCompute(across, (groups + across - 1) / across, 1);
    // The shader's writes are seen by a later map of the buffer.
    glMemoryBarrier(GL_BUFFER_UPDATE_BARRIER_BIT);
    glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 0, 0);
    // The canvas is drawn into next: left bound, it could be read while it is written.
    glBindTexture(GL_TEXTURE_2D, 0);
}
