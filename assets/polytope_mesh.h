#pragma once

// Turning a polytope description into a flat-shaded triangle list, without GL. Internal to the
// assets module (and its tests and tools): the scene sees only the catalogue builders.

#include "polytope.h"

#include <GL/glew.h>
#include <glm/geometric.hpp>
#include <glm/vec3.hpp>

#include <cstdint>
#include <vector>

namespace Kest { class Part; }

namespace Assets {

// 0xRRGGBB as three floats in [0, 1].
inline glm::vec3 colourOf(std::uint32_t rgb)
{
    return {static_cast<float>(((rgb >> 16) & 0xFF) / 255.0), static_cast<float>(((rgb >> 8) & 0xFF) / 255.0),
            static_cast<float>((rgb & 0xFF) / 255.0)};
}

// Visits the faces in table order as visit(corners, cornerCount, rgb), corners pointing into
// the index table (clockwise from outside). Colours follow the runs and start over after the
// end marker. The one walk over a description's faces, for the builder, its checks and tools.
template <typename Visit>
void forEachFace(const polytope& description, Visit&& visit)
{
    const colour_run* run = description.colours;
    std::int32_t facesLeft = run->faces;
    std::uint64_t start = 0;
    while (start < description.count) {
        std::uint64_t end = start;
        while (end < description.count && description.indices[end] != -1)
            ++end;
        visit(description.indices + start, static_cast<std::uint32_t>(end - start), run->rgb);
        if (--facesLeft == 0) {
            ++run;
            if (run->faces == 0)
                run = description.colours;
            facesLeft = run->faces;
        }
        start = end + 1;
    }
}

// Fills the lists (cleared first): per face of k points, k vertices {point x scale, normal,
// colour} and the fan (b, b + j + 1, b + j), j = 1 .. k - 2, around its first vertex b. The
// fan reverses the stored clockwise order, so triangles run counter-clockwise from outside.
// The normal comes from the unscaled first three points. Vertex is any record constructible
// as Vertex{glm::vec3 position, glm::vec3 normal, glm::vec3 colour}.
template <typename Vertex>
void flattenPolytope(const polytope& description, float scale, std::vector<Vertex>& vertices,
                     std::vector<GLuint>& elements)
{
    vertices.clear();
    elements.clear();
    // Enough for the vertices always, and for the elements while all faces are triangles.
    vertices.reserve(description.count);
    elements.reserve(description.count);

    auto point = [&](std::int16_t index) {
        const float* p = description.points[index];
        return glm::vec3(p[0], p[1], p[2]);
    };
    forEachFace(description, [&](const std::int16_t* face, std::uint32_t corners, std::uint32_t rgb) {
        const glm::vec3 p0 = point(face[0]), p1 = point(face[1]), p2 = point(face[2]);
        glm::vec3 normal = glm::cross(p2 - p0, p1 - p0);
        normal *= 1.0f / glm::length(normal);
        const glm::vec3 colour = colourOf(rgb);

        const GLuint base = static_cast<GLuint>(vertices.size());
        for (GLuint i = 0; i < corners; ++i)
            vertices.push_back(Vertex{point(face[i]) * scale, normal, colour});
        for (GLuint j = 1; j + 1 < corners; ++j) {
            elements.push_back(base);
            elements.push_back(base + j + 1);
            elements.push_back(base + j);
        }
    });
}

// A plain vertex record for users of the flattened mesh outside GL.
struct PolytopeVertex {
    glm::vec3 position;
    glm::vec3 normal;
    glm::vec3 colour;
};

struct PolytopeMesh {
    std::vector<PolytopeVertex> vertices;
    std::vector<GLuint> elements;
};

inline PolytopeMesh flattenPolytope(const polytope& description, float scale)
{
    PolytopeMesh mesh;
    flattenPolytope(description, scale, mesh.vertices, mesh.elements);
    return mesh;
}

// Fills the Part (whose program has "position", "normal" and "colour") with the flattened mesh.
void createPolytope(Kest::Part& part, const polytope& description, float scale);

} // namespace Assets
