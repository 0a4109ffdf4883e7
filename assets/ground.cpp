#include "assets.h"
#include "ground_mesh.h"

Kest::Part& createGround(Kest::Part& part)
{
    struct vertex {
        glm::vec2 position;

        static void initAttributes(Kest::ShaderProgram& program)
        {
            const GLint location = program.getAttribLocation("position");
            glEnableVertexAttribArray(location);
            glVertexAttribPointer(location, 2, GL_FLOAT, GL_FALSE, sizeof(vertex), nullptr);
        }
    };
    static_assert(sizeof(vertex) == 8, "tightly packed vec2");

    std::vector<vertex> vertices;
    std::vector<GLuint> elements;
    Assets::fillGroundMesh(vertices, elements);
    part.setMesh(vertices, elements);
    return part;
}
