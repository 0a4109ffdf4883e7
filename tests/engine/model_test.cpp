// The model's hierarchy, observed through what its draws actually send to GL: each part is one
// degenerate triangle at the origin whose transformed position transform feedback records, in
// draw order.
#include "assets/vertex_attributes.h"
#include "engine/model.h"
#include "support/gl_context.h"

#include <glm/gtc/matrix_transform.hpp>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct OriginVertex {
    float position[3];
    static void initAttributes(Kest::ShaderProgram& program)
    {
        Assets::enableFloatAttribute(program, "position", 3, sizeof(OriginVertex), 0);
    }
};

const OriginVertex origin[] = {{{0, 0, 0}}, {{0, 0, 0}}, {{0, 0, 0}}};
const GLuint oneTriangle[] = {0, 1, 2};

class ModelTest : public KestTest::GLTest {
protected:
    void SetUp() override
    {
        KestTest::GLTest::SetUp();
        Kest::Shader vertex(GL_VERTEX_SHADER, R"(#version 330
in vec3 position;
uniform mat4 transform;
out vec3 placed;
void main() { placed = (transform * vec4(position, 1.0)).xyz; gl_Position = vec4(placed, 1.0); }
)");
        program.attachShader(vertex);
        const char* varying = "placed";
        glTransformFeedbackVaryings(program.id, 1, &varying, GL_INTERLEAVED_ATTRIBS);
        program.link();
        program.transformLocation = program.getUniformLocation("transform");
        for (int i = 0; i < 3; ++i) {
            parts.emplace_back(program);
            parts.back().setMesh(origin, oneTriangle);
        }
        glGenBuffers(1, &feedback);
        glBindBuffer(GL_TRANSFORM_FEEDBACK_BUFFER, feedback);
        glBufferData(GL_TRANSFORM_FEEDBACK_BUFFER, 64 * 3 * sizeof(glm::vec3), nullptr, GL_DYNAMIC_READ);
        glBindBufferBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, feedback);
    }
    void TearDown() override { glDeleteBuffers(1, &feedback); }

    // The translation of every draw, in draw order.
    std::vector<glm::vec3> drawAndRecord(Kest::Model& model, const glm::mat4& base)
    {
        GLuint query = 0;
        glGenQueries(1, &query);
        glEnable(GL_RASTERIZER_DISCARD);
        glBeginQuery(GL_TRANSFORM_FEEDBACK_PRIMITIVES_WRITTEN, query);
        glUseProgram(program.id);
        glBeginTransformFeedback(GL_TRIANGLES);
        {
            // Each draw makes its part's program current, which GL refuses while feedback
            // records; it is the program already current, so the refusal changes nothing.
            const KestTest::ExpectGLErrors programWhileRecording;
            model.draw(base);
        }
        glEndTransformFeedback();
        glEndQuery(GL_TRANSFORM_FEEDBACK_PRIMITIVES_WRITTEN);
        glDisable(GL_RASTERIZER_DISCARD);
        GLuint primitives = 0;
        glGetQueryObjectuiv(query, GL_QUERY_RESULT, &primitives);
        glDeleteQueries(1, &query);
        std::vector<glm::vec3> recorded(primitives * 3);
        glGetNamedBufferSubData(feedback, 0, static_cast<GLsizeiptr>(recorded.size() * sizeof(glm::vec3)), recorded.data());
        std::vector<glm::vec3> perDraw;
        for (size_t i = 0; i < recorded.size(); i += 3)
            perDraw.push_back(recorded[i]);
        return perDraw;
    }

    Kest::ShaderProgram program;
    std::vector<Kest::Part> parts;
    GLuint feedback = 0;
};

glm::mat4 translation(float x, float y, float z)
{
    return glm::translate(glm::mat4(1.0f), glm::vec3(x, y, z));
}

TEST_F(ModelTest, EmptyModelDrawsNothing)
{
    Kest::Model model(parts);
    EXPECT_TRUE(drawAndRecord(model, glm::mat4(1.0f)).empty());
}

TEST_F(ModelTest, ParentsComposeBeforeChildrenInOnePass)
{
    Kest::Model model(parts);
    const size_t none = Kest::Model::none;
    EXPECT_EQ(model.addPart(0, translation(1, 0, 0), none), 0u);
    EXPECT_EQ(model.addPart(1, translation(0, 2, 0), 0), 1u);
    EXPECT_EQ(model.addPart(2, glm::rotate(glm::mat4(1.0f), 1.5707964f, glm::vec3(0, 0, 1)) * translation(0, 0, 3), 1), 2u);
    // addPart already composes with the parent's world transform.
    EXPECT_NEAR(glm::distance(glm::vec3(model.instances[2].worldTransform[3]), glm::vec3(1, 2, 3)), 0.0f, 1e-5f);

    // A new grandparent transform reaches the grandchild in the same draw.
    model.setTransform(0, translation(10, 0, 0));
    const std::vector<glm::vec3> placed = drawAndRecord(model, translation(0, 0, 100));
    ASSERT_EQ(placed.size(), 3u);
    EXPECT_EQ(placed[0], glm::vec3(10, 0, 100));
    EXPECT_EQ(placed[1], glm::vec3(10, 2, 100));
    EXPECT_NEAR(placed[2].x, 10.0f, 1e-5f);
    EXPECT_NEAR(placed[2].y, 2.0f, 1e-5f);
    EXPECT_NEAR(placed[2].z, 103.0f, 1e-5f);
    const glm::vec3 world(model.instances[2].worldTransform[3]);
    EXPECT_NEAR(glm::distance(world, glm::vec3(10, 2, 3)), 0.0f, 1e-5f) << "world excludes base";
}

TEST_F(ModelTest, PartlessGroupNodeCarriesItsChildren)
{
    Kest::Model model(parts);
    const size_t none = Kest::Model::none;
    const size_t group = model.addPart(none, glm::mat4(1.0f), none);
    const size_t pastTheEnd = model.addPart(parts.size(), translation(5, 0, 0), group);
    model.addPart(0, translation(0, 0, 20), group);
    model.addPart(1, translation(0, 0, 20), pastTheEnd);

    model.setTransform(group, glm::rotate(glm::mat4(1.0f), 3.1415927f, glm::vec3(0, 1, 0)));
    const std::vector<glm::vec3> placed = drawAndRecord(model, glm::mat4(1.0f));
    ASSERT_EQ(placed.size(), 2u) << "instances without a valid part draw nothing";
    EXPECT_NEAR(placed[0].z, -20.0f, 1e-5f);
    EXPECT_NEAR(placed[1].x, -5.0f, 1e-5f) << "a child of an undrawn instance is still placed through it";
    EXPECT_NEAR(placed[1].z, -20.0f, 1e-5f);
}

TEST_F(ModelTest, SelfParentAccumulatesOncePerDraw)
{
    // Not something the demo builds, but the single pass defines it: each draw multiplies the
    // previous world transform by the instance's own.
    Kest::Model model(parts);
    model.addPart(0, translation(1, 0, 0), Kest::Model::none);
    model.setParent(0, 0);
    drawAndRecord(model, glm::mat4(1.0f));
    const std::vector<glm::vec3> placed = drawAndRecord(model, glm::mat4(1.0f));
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_EQ(placed[0], glm::vec3(3, 0, 0));
}

} // namespace
