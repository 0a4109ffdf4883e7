#include "polytope_mesh.h"

#include <part.h>

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
            const char* const names[] = {"position", "normal", "colour"};
            for (std::uintptr_t i = 0; i < 3; ++i) {
                const GLint location = program.getAttribLocation(names[i]);
                glEnableVertexAttribArray(location);
                glVertexAttribPointer(location, 3, GL_FLOAT, GL_FALSE, sizeof(vertex),
                                      reinterpret_cast<const void*>(i * sizeof(glm::vec3)));
            }
        }
    };
    static_assert(sizeof(vertex) == 36, "three tightly packed vec3");

    std::vector<vertex> vertices;
    std::vector<GLuint> elements;
    flattenPolytope(description, scale, vertices, elements);
    part.setMesh(vertices, elements);
}

} // namespace Assets
