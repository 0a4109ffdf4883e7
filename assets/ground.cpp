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

Kest::Part& createGroundCorners(Kest::Part& part)
{
    struct vertex {
        glm::vec2 corners[3];
        float cornerIndex;

        static void initAttributes(Kest::ShaderProgram& program)
        {
            Assets::enableFloatAttribute(program, "corner0", 2, sizeof(vertex), 0);
            Assets::enableFloatAttribute(program, "corner1", 2, sizeof(vertex), 8);
            Assets::enableFloatAttribute(program, "corner2", 2, sizeof(vertex), 16);
            Assets::enableFloatAttribute(program, "cornerIndex", 1, sizeof(vertex), 24);
        }
    };
    static_assert(sizeof(vertex) == 28, "tightly packed three vec2 and a float");

    struct latticeVertex {
        glm::vec2 position;
    };
    std::vector<latticeVertex> lattice;
    std::vector<GLuint> latticeElements;
    Assets::fillGroundMesh(lattice, latticeElements);

    // Each triangle its own three vertices, in the lattice's order, so the faces stay clockwise.
    std::vector<vertex> vertices(latticeElements.size());
    std::vector<GLuint> elements(latticeElements.size());
    for (size_t i = 0; i < latticeElements.size(); ++i) {
        const size_t first = i - i % 3;
        for (size_t k = 0; k < 3; ++k)
            vertices[i].corners[k] = lattice[latticeElements[first + k]].position;
        vertices[i].cornerIndex = static_cast<float>(i % 3);
        elements[i] = static_cast<GLuint>(i);
    }
    part.setMesh(vertices, elements);
    return part;
}
