#include "export.h"

#include "assets/ground_mesh.h"
#include "assets/polytope_mesh.h"

#include <glm/geometric.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <sstream>
#include <vector>

namespace meshexport {

namespace {

std::string materialName(std::uint32_t rgb)
{
    char name[16];
    std::snprintf(name, sizeof name, "rgb_%06X", static_cast<unsigned>(rgb & 0xFFFFFF));
    return name;
}

std::string number(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// Faces of a description as point index lists, with their colours (runs wrap as in the builder).
struct Face {
    std::vector<int> points;
    std::uint32_t rgb;
};

std::vector<Face> facesOf(const polytope& description)
{
    std::vector<Face> faces;
    Assets::forEachFace(description, [&](const std::int16_t* corners, std::uint32_t count, std::uint32_t rgb) {
        faces.push_back({std::vector<int>(corners, corners + count), rgb});
    });
    return faces;
}

int pointCount(const polytope& description)
{
    int highest = -1;
    for (std::uint64_t i = 0; i < description.count; ++i)
        highest = std::max<int>(highest, description.indices[i]);
    return highest + 1;
}

} // namespace

std::string solidObj(const std::string& name, const polytope& description, float scale,
                     const std::string& materialFile)
{
    std::ostringstream out;
    out << "# " << name << ": points x " << number(scale) << ", faces counter-clockwise from outside\n";
    out << "mtllib " << materialFile << "\n";
    out << "o " << name << "\n";
    const int points = pointCount(description);
    for (int i = 0; i < points; ++i) {
        const float* p = description.points[i];
        out << "v " << number(p[0] * scale) << ' ' << number(p[1] * scale) << ' ' << number(p[2] * scale) << "\n";
    }
    std::uint32_t current = 0xFFFFFFFFu;
    for (const Face& face : facesOf(description)) {
        if (face.rgb != current) {
            out << "usemtl " << materialName(face.rgb) << "\n";
            current = face.rgb;
        }
        out << "f " << face.points[0] + 1;
        for (size_t j = face.points.size() - 1; j >= 1; --j)
            out << ' ' << face.points[j] + 1;
        out << "\n";
    }
    return out.str();
}

std::string solidMtl(const polytope& description)
{
    std::ostringstream out;
    std::set<std::uint32_t> written;
    for (const Face& face : facesOf(description)) {
        if (!written.insert(face.rgb).second)
            continue;
        char diffuse[64];
        std::snprintf(diffuse, sizeof diffuse, "Kd %.6g %.6g %.6g", ((face.rgb >> 16) & 0xFF) / 255.0,
                      ((face.rgb >> 8) & 0xFF) / 255.0, (face.rgb & 0xFF) / 255.0);
        out << "newmtl " << materialName(face.rgb) << "\n" << diffuse << "\n\n";
    }
    return out.str();
}

std::string groundObj()
{
    struct Vertex {
        glm::vec2 position;
    };
    std::vector<Vertex> vertices;
    std::vector<GLuint> elements;
    Assets::fillGroundMesh(vertices, elements);
    std::ostringstream out;
    out << "# ground lattice at y = 0, placed at (2x, 0, 2y); triangles counter-clockwise from above\n";
    out << "o ground\n";
    for (const Vertex& v : vertices)
        out << "v " << number(2 * v.position.x) << " 0 " << number(2 * v.position.y) << "\n";
    for (size_t t = 0; t < elements.size(); t += 3)
        out << "f " << elements[t] + 1 << ' ' << elements[t + 1] + 1 << ' ' << elements[t + 2] + 1 << "\n";
    return out.str();
}

Image renderSolid(const polytope& description, float scale, int size)
{
    const Assets::PolytopeMesh mesh = Assets::flattenPolytope(description, scale);

    // Camera: orthographic, looking at the origin from the front, a little above and to the right.
    const glm::vec3 toEye = glm::normalize(glm::vec3(0.35f, 0.45f, 1.0f));
    const glm::vec3 right = glm::normalize(glm::cross(glm::vec3(0, 1, 0), toEye));
    const glm::vec3 up = glm::cross(toEye, right);
    float radius = 0;
    for (const auto& v : mesh.vertices)
        radius = std::max(radius, glm::length(v.position));
    const int supersample = 2;
    const int n = size * supersample;
    const float pixelsPerUnit = 0.48f * n / std::max(radius, 1e-6f);
    auto project = [&](glm::vec3 p) {
        return glm::vec3(n * 0.5f + glm::dot(p, right) * pixelsPerUnit, n * 0.5f - glm::dot(p, up) * pixelsPerUnit,
                         glm::dot(p, toEye));
    };

    const glm::vec3 light = glm::normalize(glm::vec3(0, 2, 5));
    const glm::vec3 background(0.08f, 0.09f, 0.12f);
    std::vector<glm::vec3> colour(static_cast<size_t>(n) * n, background);
    std::vector<float> depth(static_cast<size_t>(n) * n, -std::numeric_limits<float>::infinity());

    // Walk the faces again to know which triangle edges are polygon edges (fan diagonals are not).
    size_t element = 0;
    for (std::uint64_t s = 0; s < description.count;) {
        std::uint64_t e = s;
        while (description.indices[e] != -1)
            ++e;
        const int k = static_cast<int>(e - s);
        for (int j = 1; j + 1 < k; ++j, element += 3) {
            const auto& a = mesh.vertices[mesh.elements[element]];
            const auto& b = mesh.vertices[mesh.elements[element + 1]];
            const auto& c = mesh.vertices[mesh.elements[element + 2]];
            // Triangle (p0, p[j+1], p[j]): edges a-b (a diagonal unless j + 1 == k - 1),
            // b-c (always a polygon edge), c-a (a diagonal unless j == 1).
            const bool outline[3] = {j + 1 == k - 1, true, j == 1};
            const glm::vec3 pa = project(a.position), pb = project(b.position), pc = project(c.position);
            const float area = (pb.x - pa.x) * (pc.y - pa.y) - (pc.x - pa.x) * (pb.y - pa.y);
            if (area >= 0)
                continue;  // image y runs down: counter-clockwise from outside gives negative area
            const float lit = 0.3f + 0.7f * std::max(0.0f, glm::dot(a.normal, light));
            const glm::vec3 shade = a.colour * lit;
            const int x0 = std::max(0, static_cast<int>(std::floor(std::min({pa.x, pb.x, pc.x}))));
            const int x1 = std::min(n - 1, static_cast<int>(std::ceil(std::max({pa.x, pb.x, pc.x}))));
            const int y0 = std::max(0, static_cast<int>(std::floor(std::min({pa.y, pb.y, pc.y}))));
            const int y1 = std::min(n - 1, static_cast<int>(std::ceil(std::max({pa.y, pb.y, pc.y}))));
            const glm::vec3 corners[3] = {pa, pb, pc};
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    const glm::vec2 p(x + 0.5f, y + 0.5f);
                    float w[3];
                    bool inside = true;
                    float nearestOutline = 1e9f;
                    for (int i = 0; i < 3; ++i) {
                        const glm::vec3 from = corners[(i + 1) % 3], to = corners[(i + 2) % 3];
                        // Signed distance of p from the edge opposite corner i, positive inside.
                        const glm::vec2 edge(to.x - from.x, to.y - from.y);
                        const float cross = edge.x * (p.y - from.y) - edge.y * (p.x - from.x);
                        w[i] = cross / area;
                        if (w[i] < 0)
                            inside = false;
                        const float distance = -cross / std::max(glm::length(edge), 1e-6f);
                        // Edge opposite corner i: 0 -> b-c, 1 -> c-a, 2 -> a-b.
                        const bool isOutline = outline[i == 0 ? 1 : i == 1 ? 2 : 0];
                        if (isOutline)
                            nearestOutline = std::min(nearestOutline, distance);
                    }
                    if (!inside)
                        continue;
                    const float z = w[0] * pa.z + w[1] * pb.z + w[2] * pc.z;
                    const size_t at = static_cast<size_t>(y) * n + x;
                    if (z <= depth[at])
                        continue;
                    depth[at] = z;
                    colour[at] = nearestOutline < 1.2f * supersample ? shade * 0.35f : shade;
                }
        }
        s = e + 1;
    }

    Image image;
    image.width = image.height = size;
    image.rgb.resize(static_cast<size_t>(size) * size * 3);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            glm::vec3 sum(0);
            for (int dy = 0; dy < supersample; ++dy)
                for (int dx = 0; dx < supersample; ++dx)
                    sum += colour[static_cast<size_t>(y * supersample + dy) * n + x * supersample + dx];
            sum /= float(supersample * supersample);
            for (int ch = 0; ch < 3; ++ch)
                image.rgb[(static_cast<size_t>(y) * size + x) * 3 + ch] =
                    static_cast<std::uint8_t>(std::lround(std::clamp(sum[ch], 0.0f, 1.0f) * 255));
        }
    return image;
}

} // namespace meshexport
