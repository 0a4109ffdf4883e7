#include "assets.h"
#include "vertex_attributes.h"
#include "ground_mesh.h"

Kest::Part& createGround(Kest::Part& part)
{
    struct vertex {
        glm::vec2 position;

        static void initAttributes(Kest::ShaderProgram& program)
        {
            Assets::enableFloatAttribute(program, "position", 2, sizeof(vertex), 0);
        }
    };
    static_assert(sizeof(vertex) == 8, "tightly packed vec2");

    std::vector<vertex> vertices;
    std::vector<GLuint> elements;
    Assets::fillGroundMesh(vertices, elements);
    part.setMesh(vertices, elements);
    return part;
}
