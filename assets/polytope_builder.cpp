#include "polytope_mesh.h"
#include "vertex_attributes.h"

#include "engine/part.h"

#include <cstdint>

namespace Assets {

void createPolytope(Kest::Part& part, const polytope& description, float scale)
{
    struct vertex {
        glm::vec3 position;
        glm::vec3 normal;
        glm::vec3 colour;

        static void initAttributes(Kest::ShaderProgram& program)
        {
            Assets::enableFloatAttribute(program, "position", 3, sizeof(vertex), 0);
            Assets::enableFloatAttribute(program, "normal", 3, sizeof(vertex), sizeof(glm::vec3));
            Assets::enableFloatAttribute(program, "colour", 3, sizeof(vertex), 2 * sizeof(glm::vec3));
        }
    };
    static_assert(sizeof(vertex) == 36, "three tightly packed vec3");

    std::vector<vertex> vertices;
    std::vector<GLuint> elements;
    flattenPolytope(description, scale, vertices, elements);
    part.setMesh(vertices, elements);
}

} // namespace Assets
