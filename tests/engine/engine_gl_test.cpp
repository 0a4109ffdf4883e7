// The engine's GL wrappers against a real context: what they create, bind, upload and delete,
// read back from GL itself.
#include "assets/vertex_attributes.h"
#include "engine/gl_fallback.h"
#include "engine/part.h"
#include "engine/render_target.h"
#include "engine/shader.h"
#include "support/gl_context.h"

#include <glm/gtc/matrix_transform.hpp>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

const char* const vertexSource = R"(#version 330
in vec2 position;
uniform mat4 transform;
void main() { gl_Position = transform * vec4(position, 0.0, 1.0); }
)";

const char* const twoTextureFragment = R"(#version 330
uniform sampler2D first;
uniform sampler2D second;
out vec4 outColour;
void main() { outColour = texture(first, vec2(0.5)) + texture(second, vec2(0.5)); }
)";

Kest::ShaderProgram makeProgram(const char* fragment = twoTextureFragment)
{
    Kest::Shader vertex(GL_VERTEX_SHADER, vertexSource);
    Kest::Shader pixel(GL_FRAGMENT_SHADER, fragment);
    Kest::ShaderProgram program;
    program.attachShader(vertex).attachShader(pixel).bindFragDataLocation(0, "outColour").link();
    program.transformLocation = program.getUniformLocation("transform");
    return program;
}

// Two vertex types with identical layouts but their own initAttributes, counting their calls.
template <int Kind>
struct CountingVertex {
    float position[2];
    static int calls;
    static void initAttributes(Kest::ShaderProgram& program)
    {
        ++calls;
        Assets::enableFloatAttribute(program, "position", 2, sizeof(CountingVertex), 0);
    }
};
template <int Kind>
int CountingVertex<Kind>::calls = 0;
using CountingVertexA = CountingVertex<0>;
using CountingVertexB = CountingVertex<1>;

const CountingVertexA quadA[] = {{{-1, -1}}, {{1, -1}}, {{-1, 1}}, {{1, 1}}};
const CountingVertexB quadB[] = {{{-1, -1}}, {{1, -1}}, {{-1, 1}}, {{1, 1}}};
const GLuint quadElements[] = {0, 1, 2, 2, 1, 3};

std::vector<GLuint> readElements(GLuint buffer, size_t count)
{
    std::vector<GLuint> elements(count);
    glGetNamedBufferSubData(buffer, 0, static_cast<GLsizeiptr>(count * sizeof(GLuint)), elements.data());
    return elements;
}

class EngineGLTest : public KestTest::GLTest {};

TEST_F(EngineGLTest, CompileAndLinkLogsArePrintedOnlyWhenGLReportsOne)
{
    testing::internal::CaptureStdout();
    {
        Kest::ShaderProgram clean = makeProgram();
        EXPECT_NE(clean.id, 0u);
    }
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a clean program prints nothing on Mesa";

    testing::internal::CaptureStdout();
    {
        const KestTest::ExpectGLErrors compilerError; // the driver reports the failed compile too
        Kest::Shader broken(GL_FRAGMENT_SHADER, "#version 330\nvoid main() { undeclared = 1.0; }\n");
        GLint status = GL_TRUE;
        glGetShaderiv(broken.id, GL_COMPILE_STATUS, &status);
        EXPECT_EQ(status, GL_FALSE);
    }
    std::fflush(stdout);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("undeclared"), std::string::npos) << log;
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
}

TEST_F(EngineGLTest, ProgramLocationsStartAtZeroAndUnknownNamesGiveMinusOne)
{
    Kest::ShaderProgram bare;
    EXPECT_EQ(bare.transformLocation, 0);
    EXPECT_EQ(bare.cameraLocation, 0);
    EXPECT_EQ(bare.projectionLocation, 0);
    EXPECT_EQ(bare.timeLocation, 0);

    Kest::ShaderProgram program = makeProgram();
    EXPECT_EQ(program.getUniformLocation("noSuchUniform"), -1);
    EXPECT_EQ(program.getAttribLocation("noSuchAttribute"), -1);

    // setProjection leaves the program current and uploads through projectionLocation.
    program.projectionLocation = program.transformLocation;
    const glm::mat4 projection = glm::perspective(0.8f, 16.0f / 9.0f, 0.1f, 1000.0f);
    program.setProjection(projection);
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(static_cast<GLuint>(current), program.id);
    glm::mat4 uploaded(0.0f);
    glGetUniformfv(program.id, program.projectionLocation, &uploaded[0][0]);
    EXPECT_EQ(uploaded, projection);
}

TEST_F(EngineGLTest, MovedFromProgramDeletesNothing)
{
    Kest::ShaderProgram original = makeProgram();
    const GLuint id = original.id;
    {
        Kest::ShaderProgram taken(std::move(original));
        EXPECT_EQ(taken.id, id);
        EXPECT_EQ(original.id, 0u);
        EXPECT_TRUE(glIsProgram(id));
    }
    EXPECT_FALSE(glIsProgram(id));
}

TEST_F(EngineGLTest, SetMeshUploadsAndRecordsTheLayoutOncePerVertexType)
{
    Kest::ShaderProgram program = makeProgram();
    Kest::Part part(program);
    EXPECT_EQ(part.elementCount, 0u);
    EXPECT_EQ(part.elementType, 0u);
    EXPECT_EQ(part.vertexLayout, nullptr);

    CountingVertexA::calls = CountingVertexB::calls = 0;
    part.setMesh(quadA, quadElements);
    part.setMesh(quadA, quadElements);
    EXPECT_EQ(CountingVertexA::calls, 1);
    EXPECT_EQ(part.vertexLayout, &CountingVertexA::initAttributes);
    part.setMesh(quadB, quadElements);
    EXPECT_EQ(CountingVertexB::calls, 1);
    EXPECT_EQ(part.vertexLayout, &CountingVertexB::initAttributes);

    EXPECT_EQ(part.elementCount, 6u) << "the number of indices, not of triangles";
    EXPECT_EQ(part.elementType, static_cast<GLenum>(GL_UNSIGNED_INT));
    GLint64 size = 0;
    glGetNamedBufferParameteri64v(part.vertexBuffer, GL_BUFFER_SIZE, &size);
    EXPECT_EQ(size, 32);
    glGetNamedBufferParameteri64v(part.elementBuffer, GL_BUFFER_SIZE, &size);
    EXPECT_EQ(size, 24);
    EXPECT_EQ(readElements(part.elementBuffer, 6), std::vector<GLuint>(std::begin(quadElements), std::end(quadElements)));

    // The vertex array remembers the element buffer bound during the upload.
    GLint recorded = 0;
    glGetVertexArrayiv(part.vertexArray, GL_ELEMENT_ARRAY_BUFFER_BINDING, &recorded);
    EXPECT_EQ(static_cast<GLuint>(recorded), part.elementBuffer);
}

struct UploadState {
    std::vector<GLuint> vertexWords;
    std::vector<GLuint> elements;
    GLint vertexUsage = 0;
    GLint elementUsage = 0;
    GLint recordedElementBuffer = 0;
    bool operator==(const UploadState& other) const
    {
        return vertexWords == other.vertexWords && elements == other.elements && vertexUsage == other.vertexUsage &&
            elementUsage == other.elementUsage;
    }
};

UploadState uploadedBy(const Kest::Part& part)
{
    UploadState state;
    GLint64 size = 0;
    glGetNamedBufferParameteri64v(part.vertexBuffer, GL_BUFFER_SIZE, &size);
    state.vertexWords = readElements(part.vertexBuffer, static_cast<size_t>(size) / 4);
    glGetNamedBufferParameteri64v(part.elementBuffer, GL_BUFFER_SIZE, &size);
    state.elements = readElements(part.elementBuffer, static_cast<size_t>(size) / 4);
    glGetNamedBufferParameteriv(part.vertexBuffer, GL_BUFFER_USAGE, &state.vertexUsage);
    glGetNamedBufferParameteriv(part.elementBuffer, GL_BUFFER_USAGE, &state.elementUsage);
    glGetVertexArrayiv(part.vertexArray, GL_ELEMENT_ARRAY_BUFFER_BINDING, &state.recordedElementBuffer);
    return state;
}

TEST_F(EngineGLTest, WithoutTheNewerEntryPointsUploadsAndDepthStateMatchTheNormalPath)
{
    ASSERT_NE(glNamedBufferData, nullptr);
    ASSERT_NE(glClearDepthf, nullptr);
    ASSERT_NE(glDepthRangef, nullptr);
    Kest::ShaderProgram program = makeProgram();
    const CountingVertexA triangle[] = {{{0.5f, -0.25f}}, {{0.125f, 1}}, {{-1, 0.75f}}};
    const GLuint triangleElements[] = {2, 0, 1};

    // A second upload into the same part replaces both buffers, as a first one fills them.
    Kest::Part normal(program);
    normal.setMesh(quadA, quadElements);
    normal.setMesh(triangle, triangleElements);
    Kest::Part fallback(program);
    {
        const KestTest::WithoutNewerGL olderContext;
        fallback.setMesh(quadA, quadElements);
        fallback.setMesh(triangle, triangleElements);
        EXPECT_EQ(KestTest::WithoutNewerGL::trappedCalls(), 0);
    }
    const UploadState expected = uploadedBy(normal);
    const UploadState got = uploadedBy(fallback);
    EXPECT_EQ(expected.vertexWords.size(), 6u);
    EXPECT_EQ(expected.elements, std::vector<GLuint>({2, 0, 1}));
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(static_cast<GLuint>(got.recordedElementBuffer), fallback.elementBuffer);

    auto depthState = [] {
        std::vector<GLfloat> state(3);
        glGetFloatv(GL_DEPTH_CLEAR_VALUE, &state[0]);
        glGetFloatv(GL_DEPTH_RANGE, &state[1]);
        return state;
    };
    auto setDepth = [] {
        glClearDepth(0.5);
        glDepthRange(0.0, 1.0);
        Kest::setClearDepth(0.25f);
        Kest::setDepthRange(0.1f, 1000.0f);
    };
    setDepth();
    const std::vector<GLfloat> normalDepth = depthState();
    EXPECT_EQ(normalDepth, std::vector<GLfloat>({0.25f, 0.1f, 1.0f})) << "the range is clamped to [0, 1]";
    {
        const KestTest::WithoutNewerGL olderContext;
        setDepth();
        EXPECT_EQ(KestTest::WithoutNewerGL::trappedCalls(), 0);
    }
    EXPECT_EQ(depthState(), normalDepth);
    glClearDepth(1.0);
    glDepthRange(0.0, 1.0);
}

TEST_F(EngineGLTest, GrowingAVectorOfPartsKeepsEveryNameValidAndDistinct)
{
    Kest::ShaderProgram program = makeProgram();
    std::vector<Kest::Part> parts;
    for (int i = 0; i < 9; ++i) {
        parts.emplace_back(program);
        parts.back().setMesh(quadA, quadElements);
    }
    std::set<GLuint> buffers;
    std::set<GLuint> arrays;
    for (const Kest::Part& part : parts) {
        EXPECT_TRUE(glIsBuffer(part.vertexBuffer));
        EXPECT_TRUE(glIsBuffer(part.elementBuffer));
        EXPECT_TRUE(glIsVertexArray(part.vertexArray));
        buffers.insert(part.vertexBuffer);
        buffers.insert(part.elementBuffer);
        arrays.insert(part.vertexArray);
        // Data survives the moves as well as the names.
        EXPECT_EQ(readElements(part.elementBuffer, 6)[5], 3u);
    }
    EXPECT_EQ(buffers.size(), 18u);
    EXPECT_EQ(arrays.size(), 9u);

    Kest::Part moved(std::move(parts.front()));
    EXPECT_EQ(parts.front().vertexBuffer, 0u);
    EXPECT_EQ(parts.front().elementBuffer, 0u);
    EXPECT_EQ(parts.front().vertexArray, 0u);
    const GLuint keptArray = moved.vertexArray;
    parts.clear();
    EXPECT_TRUE(glIsVertexArray(keptArray)) << "a moved-from part must delete nothing";
}

TEST_F(EngineGLTest, DrawBindsExactlyTextureCountTexturesToUnitsFromZero)
{
    Kest::ShaderProgram program = makeProgram();
    Kest::RenderTarget target(4, 4, 0);
    Kest::Texture first = target.createHdrBuffer(4, 4, 0);
    Kest::Texture second = target.createHdrBuffer(4, 4, 1);
    Kest::Texture third = target.createHdrBuffer(4, 4, 2);
    Kest::Texture::Binding bindings[] = {
        {program.getUniformLocation("first"), &first},
        {program.getUniformLocation("second"), &second},
        {-1, &third},
    };
    Kest::RenderTarget drawTarget(4, 4, 0);
    Kest::Texture output = drawTarget.createHdrBuffer(4, 4, 0);
    drawTarget.bind();

    Kest::Part part(program);
    part.setMesh(quadA, quadElements);
    part.textureCount = 2;

    auto clearUnits = [] {
        for (GLenum unit = 0; unit < 4; ++unit) {
            glActiveTexture(GL_TEXTURE0 + unit);
            glBindTexture(GL_TEXTURE_2D, 0);
        }
        glActiveTexture(GL_TEXTURE3);
    };
    auto boundTo = [](GLenum unit) {
        glActiveTexture(GL_TEXTURE0 + unit);
        GLint name = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
        return static_cast<GLuint>(name);
    };

    clearUnits();
    part.drawImpl(glm::mat4(1.0f), nullptr);
    for (GLenum unit = 0; unit < 4; ++unit)
        EXPECT_EQ(boundTo(unit), 0u) << "unit " << unit;

    clearUnits();
    part.drawImpl(glm::mat4(1.0f), bindings);
    EXPECT_EQ(boundTo(0), first.id);
    EXPECT_EQ(boundTo(1), second.id);
    EXPECT_EQ(boundTo(2), 0u) << "only textureCount entries are read";
    GLint sampler = -1;
    glGetUniformiv(program.id, bindings[1].location, &sampler);
    EXPECT_EQ(sampler, 1);

    // The overload without a transform keeps the caller's program and uniforms. With none
    // current, GL refuses its sampler upload and draw; only the texture bindings count here.
    glUseProgram(0);
    clearUnits();
    part.textureCount = 1;
    {
        const KestTest::ExpectGLErrors noProgram;
        part.drawImpl(bindings);
    }
    GLint current = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
    EXPECT_EQ(boundTo(0), first.id);
    EXPECT_EQ(boundTo(1), 0u);
}

TEST_F(EngineGLTest, RenderTargetsMakeCompleteHalfFloatFramebuffers)
{
    Kest::RenderTarget scene(1280, 720, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    Kest::Texture sceneTexture = scene.createHdrBuffer(1280, 720, 0);
    EXPECT_EQ(scene.buffers, static_cast<GLbitfield>(16640));
    EXPECT_NE(scene.depthBuffer, 0u);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    EXPECT_EQ(sceneTexture.target, static_cast<GLenum>(GL_TEXTURE_2D));

    GLint format = 0;
    glGetTextureLevelParameteriv(sceneTexture.id, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    EXPECT_EQ(format, GL_RGBA16F);
    GLint width = 0;
    glGetTextureLevelParameteriv(sceneTexture.id, 0, GL_TEXTURE_WIDTH, &width);
    EXPECT_EQ(width, 1280);
    GLint attached = 0;
    glGetNamedFramebufferAttachmentParameteriv(scene.framebuffer, GL_DEPTH_ATTACHMENT,
                                               GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &attached);
    EXPECT_EQ(static_cast<GLuint>(attached), scene.depthBuffer);

    Kest::RenderTarget bloom(640, 360, 0);
    Kest::Texture bloomTexture = bloom.createHdrBuffer(640, 360, 1);
    EXPECT_EQ(bloom.depthBuffer, 0u);
    glGetNamedFramebufferAttachmentParameteriv(bloom.framebuffer, GL_COLOR_ATTACHMENT1,
                                               GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &attached);
    EXPECT_EQ(static_cast<GLuint>(attached), bloomTexture.id);

    // Moving a texture hands over its name; the moved-from one deletes nothing.
    const GLuint textureId = bloomTexture.id;
    {
        Kest::Texture taken(std::move(bloomTexture));
        EXPECT_EQ(bloomTexture.id, 0u);
    }
    EXPECT_FALSE(glIsTexture(textureId));

    Kest::RenderTarget window(0, 152, 1280, 720);
    EXPECT_EQ(window.framebuffer, 0u);
    window.bind();
    GLint bound = -1;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(bound, 0);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[1], 152);
    EXPECT_EQ(viewport[2], 1280);
    EXPECT_EQ(viewport[3], 720);
}

TEST_F(EngineGLTest, DestroyingEverythingLeavesNoLiveGLObject)
{
    std::vector<GLuint> programs, buffers, arrays, framebuffers, renderbuffers, textures;
    {
        Kest::ShaderProgram program = makeProgram();
        programs.push_back(program.id);
        std::vector<Kest::Part> parts;
        for (int i = 0; i < 3; ++i)
            parts.emplace_back(program);
        for (const Kest::Part& part : parts) {
            buffers.push_back(part.vertexBuffer);
            buffers.push_back(part.elementBuffer);
            arrays.push_back(part.vertexArray);
        }
        Kest::RenderTarget target(8, 8, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        Kest::Texture texture = target.createHdrBuffer(8, 8, 0);
        framebuffers.push_back(target.framebuffer);
        renderbuffers.push_back(target.depthBuffer);
        textures.push_back(texture.id);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    for (GLuint id : programs)
        EXPECT_FALSE(glIsProgram(id));
    for (GLuint id : buffers)
        EXPECT_FALSE(glIsBuffer(id));
    for (GLuint id : arrays)
        EXPECT_FALSE(glIsVertexArray(id));
    for (GLuint id : framebuffers)
        EXPECT_FALSE(glIsFramebuffer(id));
    for (GLuint id : renderbuffers)
        EXPECT_FALSE(glIsRenderbuffer(id));
    for (GLuint id : textures)
        EXPECT_FALSE(glIsTexture(id));
}

} // namespace
