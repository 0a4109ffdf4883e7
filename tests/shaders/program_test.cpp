// The builders on a real driver: every stage compiles and links without a single line of
// log (the engine prints every log, so a warning would show), the builders leave no shader
// object behind, bind the fragment output and cache the uniform locations the engine writes.
// The stage texts are, byte for byte, the ones those checks and the pixel tests were written
// against.

#include "render.h"
#include "shaders/shaders.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

class BuiltProgramTest : public ShaderTest::GLFixture {};

struct Builder {
    const char* name;
    Kest::ShaderProgram (*build)();
    int stageCount;
    const char* output;
};

const Builder builders[] = {
    {"sky", Kest::createSkyShader, 2, "outColour"},
    {"hdr", Kest::createHdrShader, 2, "outColour"},
    {"blur", Kest::createBlurShader, 2, "FragColor"},
    {"glitter", Kest::createGlitterShader, 2, "outColour"},
    {"ground", Kest::createGroundShader, 3, "outColour"},
};

TEST_F(BuiltProgramTest, EveryProgramCompilesAndLinksWithAnEmptyLog)
{
    for (const Builder& builder : builders) {
        SCOPED_TRACE(builder.name);
        testing::internal::CaptureStdout();
        Kest::ShaderProgram program = builder.build();
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed, "");

        GLint linked = 0;
        GLint logLength = -1;
        glGetProgramiv(program.id, GL_LINK_STATUS, &linked);
        glGetProgramiv(program.id, GL_INFO_LOG_LENGTH, &logLength);
        EXPECT_EQ(linked, GL_TRUE);
        EXPECT_EQ(logLength, 0);

        // The builder has deleted its shaders; they live on only as attachments.
        GLint attached = 0;
        glGetProgramiv(program.id, GL_ATTACHED_SHADERS, &attached);
        ASSERT_EQ(attached, builder.stageCount);
        std::vector<GLuint> shaders(static_cast<size_t>(attached));
        glGetAttachedShaders(program.id, attached, nullptr, shaders.data());
        for (GLuint shader : shaders) {
            GLint compiled = 0;
            GLint shaderLog = -1;
            GLint deleted = 0;
            glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
            glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &shaderLog);
            glGetShaderiv(shader, GL_DELETE_STATUS, &deleted);
            EXPECT_EQ(compiled, GL_TRUE);
            EXPECT_EQ(shaderLog, 0);
            EXPECT_EQ(deleted, GL_TRUE);
        }

        EXPECT_EQ(glGetFragDataLocation(program.id, builder.output), 0);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

// The same programs as GLSL ES 3.00, the browser's language, which this driver also takes: every
// stage compiles and links without a line of log, the blocks between stages are gone, and the
// blur's weights are constants.
TEST_F(BuiltProgramTest, EveryProgramBuildsAsGlslEs300)
{
    using Kest::Program;
    for (Program which : {Program::sky, Program::hdr, Program::blur, Program::glitter, Program::ground}) {
        SCOPED_TRACE(static_cast<int>(which));
        testing::internal::CaptureStdout();
        Kest::ShaderProgram program = Kest::createShader(which, Kest::ShadingLanguage::essl300);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        GLint linked = 0, attached = 0;
        glGetProgramiv(program.id, GL_LINK_STATUS, &linked);
        glGetProgramiv(program.id, GL_ATTACHED_SHADERS, &attached);
        EXPECT_EQ(linked, GL_TRUE);
        EXPECT_EQ(attached, 2);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    for (const Kest::ShaderSource& source : Kest::shaderSources()) {
        SCOPED_TRACE(source.stage);
        const std::string es = Kest::toEssl300(source.text);
        EXPECT_EQ(es.rfind("#version 300 es\nprecision highp float;\nprecision highp int;\n", 0), 0u);
        EXPECT_EQ(es.find(" {\n    vec"), std::string::npos) << es;
        EXPECT_EQ(es.find("_out."), std::string::npos);
        EXPECT_EQ(es.find("fs_in."), std::string::npos);
    }
    const std::string glitter = Kest::toEssl300(Kest::shaderSources()[5].text);
    EXPECT_NE(glitter.find("\nout vec3 VS_OUT_Normal;\nout vec3 VS_OUT_Colour;\n"), std::string::npos) << glitter;
    EXPECT_NE(glitter.find("VS_OUT_Normal = mat3(transform) * normal;"), std::string::npos);
    const std::string blur = Kest::toEssl300(Kest::shaderSources()[2].text);
    EXPECT_NE(blur.find("\nconst float weight[5] = float[]("), std::string::npos) << blur;
}

TEST_F(BuiltProgramTest, BuildersCacheTheLocationsOfTheirOwnUniformsOnly)
{
    Kest::ShaderProgram sky = Kest::createSkyShader();
    EXPECT_NE(sky.transformLocation, -1);
    EXPECT_EQ(sky.transformLocation, sky.getUniformLocation("transform"));
    EXPECT_EQ(sky.cameraLocation, 0);
    EXPECT_EQ(sky.projectionLocation, 0);
    EXPECT_EQ(sky.timeLocation, 0);

    for (Kest::ShaderProgram (*build)() : {Kest::createHdrShader, Kest::createBlurShader}) {
        Kest::ShaderProgram post = build();
        EXPECT_EQ(post.transformLocation, 0);
        EXPECT_EQ(post.cameraLocation, 0);
        EXPECT_EQ(post.projectionLocation, 0);
        EXPECT_EQ(post.timeLocation, 0);
    }

    for (Kest::ShaderProgram (*build)() : {Kest::createGlitterShader, Kest::createGroundShader}) {
        Kest::ShaderProgram scene = build();
        EXPECT_NE(scene.transformLocation, -1);
        EXPECT_NE(scene.cameraLocation, -1);
        EXPECT_NE(scene.projectionLocation, -1);
        EXPECT_NE(scene.timeLocation, -1);
        EXPECT_EQ(scene.transformLocation, scene.getUniformLocation("transform"));
        EXPECT_EQ(scene.cameraLocation, scene.getUniformLocation("camera"));
        EXPECT_EQ(scene.projectionLocation, scene.getUniformLocation("projection"));
        EXPECT_EQ(scene.timeLocation, scene.getUniformLocation("time"));
    }
}

TEST_F(BuiltProgramTest, PostProcessingUniformsAreTheOnesTheFramePassesLookUp)
{
    Kest::ShaderProgram hdr = Kest::createHdrShader();
    for (const char* name : {"hdrBuffer", "bloomBuffer", "exposure"})
        EXPECT_NE(hdr.getUniformLocation(name), -1) << name;

    Kest::ShaderProgram blur = Kest::createBlurShader();
    for (const char* name : {"image", "scale", "horizontal", "weight"})
        EXPECT_NE(blur.getUniformLocation(name), -1) << name;

    // Nothing sets the weights: their initialisers are what every pass uses.
    float weights[5] = {};
    glGetUniformfv(blur.id, blur.getUniformLocation("weight[0]"), &weights[0]);
    for (int i = 1; i < 5; ++i) {
        std::string element = "weight[" + std::to_string(i) + "]";
        glGetUniformfv(blur.id, blur.getUniformLocation(element.c_str()), &weights[i]);
    }
    const float expected[5] = {0.227027f, 0.1945946f, 0.1216216f, 0.054054f, 0.016216f};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(weights[i], expected[i]) << i;
}

// FNV-1a, 64 bits: a fixed fingerprint of a text.
std::uint64_t fingerprint(const char* text)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char* c = text; *c != '\0'; ++c) {
        hash ^= static_cast<unsigned char>(*c);
        hash *= 0x100000001b3u;
    }
    return hash;
}

TEST(ShaderSourceTest, EveryStageHandsGlTheTextItAlwaysHad)
{
    const std::map<std::string, std::uint64_t> expected = {
        {"full-screen vertex", 0x7966c700d23767ffu},
        {"hdr fragment", 0xbfe5dd0579db39ebu},
        {"blur fragment", 0x332a3738ea8de3a6u},
        {"sky vertex", 0x6fa35a2e4eae0797u},
        {"sky fragment", 0x400a205ff722f4cau},
        {"glitter vertex", 0xcb4eb16e8777305cu},
        {"glitter fragment", 0xc6435995d1045f61u},
        {"ground vertex", 0xec36d3407ac61814u},
        {"ground geometry", 0x53819b6091710a5au},
        {"ground fragment", 0x6af9f404a1e684ecu},
        {"ground corners vertex", 0x830ff155efee0800u},
    };
    std::map<std::string, std::uint64_t> actual;
    for (const Kest::ShaderSource& source : Kest::shaderSources())
        actual[source.stage] = fingerprint(source.text);
    EXPECT_EQ(actual, expected);
}

} // namespace
