#include "assets.h"
#include "vertex_attributes.h"

// Each quad has its own vertex type, so each records its own layout in a Part; the layouts
// themselves are identical: one vec2 "position" at offset 0, stride 8.

Kest::Part& createSky(Kest::Part& part)
{
    struct vertex {
        float position[2];

        static void initAttributes(Kest::ShaderProgram& program)
        {
            Assets::enableFloatAttribute(program, "position", 2, sizeof(vertex), 0);
        }
    };
    static_assert(sizeof(vertex) == 8, "tightly packed vec2");
    static const vertex vertices[] = {{{-1, -1}}, {{1, -1}}, {{-1, 1}}, {{1, 1}}};
    static const GLuint elements[] = {0, 1, 2, 2, 1, 3};
    part.setMesh(vertices, elements);
    return part;
}

Kest::Part& createBloomfield(Kest::Part& part)
{
    struct vertex {
        float position[2];

        static void initAttributes(Kest::ShaderProgram& program)
        {
            Assets::enableFloatAttribute(program, "position", 2, sizeof(vertex), 0);
        }
    };
    static_assert(sizeof(vertex) == 8, "tightly packed vec2");
    static const vertex vertices[] = {{{0, 0}}, {{1, 0}}, {{0, 1}}, {{1, 1}}};
    static const GLuint elements[] = {0, 1, 2, 2, 1, 3};
    part.setMesh(vertices, elements);
    part.textureCount = 1;
    return part;
}

Kest::Part& createViewfield(Kest::Part& part)
{
    // The composite samples the scene and the bloom.
    createBloomfield(part);
    part.textureCount = 2;
    return part;
}
