// What the builders upload, read back from a real GL context: buffer contents, counts, the
// attribute layout recorded in the vertex array, and when the layout is recorded again.

#include "assets/assets.h"
#include "assets/catalogue.h"
#include "assets/polytope_mesh.h"

#include "support/gl_context.h"

#include <glm/geometric.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <glm/gtc/type_ptr.hpp>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A program with the attributes the builders look up; the uniform transform keeps the
// position attribute active.
Kest::ShaderProgram makeProgram(bool threeAttributes)
{
    static const char* const flatVertex = R"(#version 330
in vec2 position;
void main() { gl_Position = vec4(position, 0.0, 1.0); }
)";
    static const char* const solidVertex = R"(#version 330
in vec3 position;
in vec3 normal;
in vec3 colour;
out vec3 shade;
void main() { shade = colour * normal.y; gl_Position = vec4(position, 1.0); }
)";
    static const char* const flatFragment = R"(#version 330
out vec4 outColour;
void main() { outColour = vec4(1.0); }
)";
    static const char* const solidFragment = R"(#version 330
in vec3 shade;
out vec4 outColour;
void main() { outColour = vec4(shade, 1.0); }
)";
    Kest::ShaderProgram program;
    Kest::Shader vertex(GL_VERTEX_SHADER, threeAttributes ? solidVertex : flatVertex);
    Kest::Shader fragment(GL_FRAGMENT_SHADER, threeAttributes ? solidFragment : flatFragment);
    program.attachShader(vertex).attachShader(fragment).bindFragDataLocation(0, "outColour").link();
    return program;
}

// Reads through the copy-read binding point, which no vertex array records.
template <typename T>
std::vector<T> readBuffer(GLuint buffer)
{
    const GLenum target = GL_COPY_READ_BUFFER;
    glBindBuffer(target, buffer);
    GLint bytes = 0;
    glGetBufferParameteriv(target, GL_BUFFER_SIZE, &bytes);
    std::vector<T> data(static_cast<size_t>(bytes) / sizeof(T));
    if (bytes > 0)
        glGetBufferSubData(target, 0, bytes, data.data());
    return data;
}

struct Attribute {
    GLint enabled, size, type, normalized, stride;
    std::uintptr_t offset;
    GLint elementBuffer;
};

Attribute attributeOf(const Kest::Part& part, const char* name)
{
    glBindVertexArray(part.vertexArray);
    const GLint location = part.program->getAttribLocation(name);
    EXPECT_GE(location, 0) << name;
    Attribute a{};
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &a.enabled);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_SIZE, &a.size);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_TYPE, &a.type);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &a.normalized);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &a.stride);
    void* pointer = nullptr;
    glGetVertexAttribPointerv(location, GL_VERTEX_ATTRIB_ARRAY_POINTER, &pointer);
    a.offset = reinterpret_cast<std::uintptr_t>(pointer);
    glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &a.elementBuffer);
    return a;
}

void expectAttribute(const Kest::Part& part, const char* name, GLint size, GLint stride, std::uintptr_t offset)
{
    const Attribute a = attributeOf(part, name);
    EXPECT_TRUE(a.enabled) << name;
    EXPECT_EQ(a.size, size) << name;
    EXPECT_EQ(a.type, GL_FLOAT) << name;
    EXPECT_FALSE(a.normalized) << name;
    EXPECT_EQ(a.stride, stride) << name;
    EXPECT_EQ(a.offset, offset) << name;
    EXPECT_EQ(static_cast<GLuint>(a.elementBuffer), part.elementBuffer) << "the vertex array records the elements";
}

class AssetsGL : public KestTest::GLTest {};

TEST_F(AssetsGL, ScreenQuadsUploadTheirTablesAndTextureCounts)
{
    Kest::ShaderProgram program = makeProgram(false);
    Kest::Part sky(program), bloom(program), view(program);
    EXPECT_EQ(&createSky(sky), &sky);
    EXPECT_EQ(&createBloomfield(bloom), &bloom);
    EXPECT_EQ(&createViewfield(view), &view);

    const std::vector<float> skyData = readBuffer<float>(sky.vertexBuffer);
    EXPECT_EQ(skyData, (std::vector<float>{-1, -1, 1, -1, -1, 1, 1, 1}));
    const std::vector<float> unitData{0, 0, 1, 0, 0, 1, 1, 1};
    EXPECT_EQ(readBuffer<float>(bloom.vertexBuffer), unitData);
    EXPECT_EQ(readBuffer<float>(view.vertexBuffer), unitData);
    for (const Kest::Part* part : {&sky, &bloom, &view}) {
        EXPECT_EQ(readBuffer<GLuint>(part->elementBuffer),
                  (std::vector<GLuint>{0, 1, 2, 2, 1, 3}));
        EXPECT_EQ(part->elementCount, 6u);
        EXPECT_EQ(part->elementType, static_cast<GLenum>(GL_UNSIGNED_INT));
        expectAttribute(*part, "position", 2, 8, 0);
    }
    EXPECT_EQ(sky.textureCount, 0u);
    EXPECT_EQ(bloom.textureCount, 1u);
    EXPECT_EQ(view.textureCount, 2u);
}

TEST_F(AssetsGL, LayoutIsRecordedOncePerVertexType)
{
    Kest::ShaderProgram program = makeProgram(false);
    Kest::Part part(program);
    createBloomfield(part);
    const auto bloomLayout = part.vertexLayout;
    ASSERT_NE(bloomLayout, nullptr);
    createViewfield(part);  // the same vertex type: no new layout
    EXPECT_EQ(part.vertexLayout, bloomLayout);
    EXPECT_EQ(part.textureCount, 2u);
    createSky(part);  // same layout, but a vertex type of its own
    EXPECT_NE(part.vertexLayout, bloomLayout);
    const auto skyLayout = part.vertexLayout;
    createSky(part);
    EXPECT_EQ(part.vertexLayout, skyLayout);
    EXPECT_EQ(part.textureCount, 2u) << "createSky leaves textureCount alone";
    createGround(part);
    EXPECT_NE(part.vertexLayout, skyLayout);
    EXPECT_NE(part.vertexLayout, bloomLayout);
    expectAttribute(part, "position", 2, 8, 0);
}

TEST_F(AssetsGL, GroundUploadsTheLattice)
{
    Kest::ShaderProgram program = makeProgram(false);
    Kest::Part ground(program);
    EXPECT_EQ(&createGround(ground), &ground);
    EXPECT_EQ(ground.elementCount, 73728u);
    EXPECT_EQ(ground.elementType, static_cast<GLenum>(GL_UNSIGNED_INT));
    EXPECT_EQ(ground.textureCount, 0u);
    expectAttribute(ground, "position", 2, 8, 0);

    const std::vector<glm::vec2> positions = readBuffer<glm::vec2>(ground.vertexBuffer);
    const std::vector<GLuint> elements = readBuffer<GLuint>(ground.elementBuffer);
    ASSERT_EQ(positions.size(), 12675u);
    ASSERT_EQ(elements.size(), 73728u);
    EXPECT_EQ(positions[0], glm::vec2(-64, 0));
    EXPECT_EQ(positions[64], glm::vec2(0, 0));
    EXPECT_EQ(positions[12674], glm::vec2(32, 55.425625f));
    EXPECT_EQ(elements[4], 66u);
    EXPECT_EQ(elements.back(), 12673u);
}

class PolytopeBuilderGL : public KestTest::GLTest {
protected:
    struct Vertex {
        glm::vec3 position, normal, colour;
    };

    void build(const polytope& description, float scale)
    {
        Assets::createPolytope(*part, description, scale);
        vertices = readBuffer<Vertex>(part->vertexBuffer);
        elements = readBuffer<GLuint>(part->elementBuffer);
    }

    void SetUp() override
    {
        KestTest::GLTest::SetUp();
        program = std::make_unique<Kest::ShaderProgram>(makeProgram(true));
        part = std::make_unique<Kest::Part>(*program);
    }
    void TearDown() override
    {
        part.reset();
        program.reset();
    }

    std::unique_ptr<Kest::ShaderProgram> program;
    std::unique_ptr<Kest::Part> part;
    std::vector<Vertex> vertices;
    std::vector<GLuint> elements;
};

// A square pyramid, every face clockwise from outside: the base (seen from below), then four
// triangles to the apex; five faces over colour runs of 3 and 1, so the colours wrap.
const float squarePoints[][3] = {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}, {0.5f, 1, 0.5f}};
const std::int16_t squareIndices[] = {0, 3, 2, 1, -1, 0, 1, 4, -1, 1, 2, 4, -1, 2, 3, 4, -1, 3, 0, 4, -1};
const colour_run squareColours[] = {{3, 0xFF0000}, {1, 0x00FF00}, {0, 0}};

TEST_F(PolytopeBuilderGL, FanOrderNormalsAndWrappingColours)
{
    const polytope pyramid{squarePoints, squareIndices, std::size(squareIndices), squareColours};
    build(pyramid, 1.0f);
    ASSERT_EQ(vertices.size(), 16u);
    ASSERT_EQ(elements.size(), 18u);
    EXPECT_EQ(part->elementCount, 18u);
    EXPECT_EQ(part->elementType, static_cast<GLenum>(GL_UNSIGNED_INT));
    EXPECT_EQ(part->textureCount, 0u);
    expectAttribute(*part, "position", 3, 36, 0);
    expectAttribute(*part, "normal", 3, 36, 12);
    expectAttribute(*part, "colour", 3, 36, 24);

    // Quadrilateral: vertices 0..3 in face order, triangles (0, 2, 1) and (0, 3, 2); then a
    // triangle n, n + 2, n + 1 per side.
    const std::vector<GLuint> expected{0, 2, 1, 0, 3, 2, 4, 6, 5, 7, 9, 8, 10, 12, 11, 13, 15, 14};
    EXPECT_EQ(elements, expected);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(vertices[i].position, glm::make_vec3(squarePoints[squareIndices[i]]));

    // Outward normals of unit length, the same at every vertex of a face; each emitted
    // triangle runs counter-clockwise about it.
    EXPECT_EQ(vertices[0].normal, glm::vec3(0, -1, 0));
    for (size_t t = 0; t < elements.size(); t += 3) {
        const Vertex &a = vertices[elements[t]], &b = vertices[elements[t + 1]], &c = vertices[elements[t + 2]];
        EXPECT_NEAR(glm::length(a.normal), 1.0f, 1e-6f);
        EXPECT_EQ(a.normal, b.normal);
        EXPECT_EQ(a.normal, c.normal);
        EXPECT_GT(glm::dot(glm::cross(b.position - a.position, c.position - a.position), a.normal), 0);
    }

    // Five faces over runs of 3 red and 1 green: red, red, red, green, red again.
    const glm::vec3 red(1, 0, 0), green(0, 1, 0);
    const size_t faceStart[] = {0, 4, 7, 10, 13};
    const glm::vec3 faceColour[] = {red, red, red, green, red};
    for (int f = 0; f < 5; ++f)
        EXPECT_EQ(vertices[faceStart[f]].colour, faceColour[f]) << "face " << f;
}

TEST_F(PolytopeBuilderGL, ScalingMovesPointsButNotNormals)
{
    const polytope pyramid{squarePoints, squareIndices, std::size(squareIndices), squareColours};
    build(pyramid, 1.0f);
    const std::vector<Vertex> unit = vertices;
    build(pyramid, 2.0f);
    ASSERT_EQ(vertices.size(), unit.size());
    for (size_t i = 0; i < unit.size(); ++i) {
        EXPECT_EQ(vertices[i].position, unit[i].position * 2.0f);
        EXPECT_EQ(vertices[i].normal, unit[i].normal);
        EXPECT_EQ(vertices[i].colour, unit[i].colour);
    }
}

TEST_F(PolytopeBuilderGL, EmptyDescriptionUploadsNothing)
{
    const polytope pyramid{squarePoints, squareIndices, std::size(squareIndices), squareColours};
    build(pyramid, 1.0f);
    const polytope empty{squarePoints, squareIndices, 0, squareColours};
    build(empty, 1.0f);
    EXPECT_EQ(part->elementCount, 0u);
    EXPECT_TRUE(vertices.empty());
    EXPECT_TRUE(elements.empty());
    EXPECT_EQ(part->elementType, static_cast<GLenum>(GL_UNSIGNED_INT));
}

TEST_F(PolytopeBuilderGL, CatalogueBuildersUploadTheirFlattenedTables)
{
    for (const Assets::CatalogueEntry& entry : Assets::polytopeCatalogue()) {
        Kest::Part solid(*program);
        EXPECT_EQ(&entry.build(solid), &solid) << entry.name;
        const Assets::PolytopeMesh mesh = Assets::flattenPolytope(entry.tables(), entry.scale);
        const auto uploaded = readBuffer<Vertex>(solid.vertexBuffer);
        const auto uploadedElements = readBuffer<GLuint>(solid.elementBuffer);
        ASSERT_EQ(uploaded.size(), mesh.vertices.size()) << entry.name;
        ASSERT_EQ(std::memcmp(uploaded.data(), mesh.vertices.data(), uploaded.size() * sizeof(Vertex)), 0) << entry.name;
        EXPECT_EQ(uploadedElements, mesh.elements) << entry.name;
        EXPECT_EQ(solid.elementCount, mesh.elements.size()) << entry.name;
        EXPECT_EQ(solid.textureCount, 0u);
    }

    // The hub as the scene sees it: 112 vertices, 120 elements, apex at (0, 20, 0).
    Kest::Part hub(*program);
    createHub(hub);
    const auto hubVertices = readBuffer<Vertex>(hub.vertexBuffer);
    EXPECT_EQ(hubVertices.size(), 112u);
    EXPECT_EQ(hub.elementCount, 120u);
    EXPECT_EQ(hubVertices[2].position, glm::vec3(0, 20, 0));
}

} // namespace
