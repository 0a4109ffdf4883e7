#include "polytope_checks.h"

#include "assets/polytope_mesh.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace PolytopeChecks {

namespace {

std::string faceName(int face) { return "face " + std::to_string(face); }

// The fan triangles of a face, counter-clockwise from outside as the builder emits them.
std::vector<std::array<int, 3>> fan(const std::vector<int>& face)
{
    std::vector<std::array<int, 3>> triangles;
    for (size_t j = 1; j + 1 < face.size(); ++j)
        triangles.push_back({face[0], face[j + 1], face[j]});
    return triangles;
}

bool insideTriangle(glm::dvec3 p, glm::dvec3 a, glm::dvec3 b, glm::dvec3 c, double tolerance)
{
    const glm::dvec3 n = glm::cross(b - a, c - a);
    const double area2 = glm::length(n);
    if (area2 < tolerance)
        return false;
    const glm::dvec3 unit = n / area2;
    // Signed distances of p from each edge, within the plane.
    const glm::dvec3 corners[] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
        const glm::dvec3 from = corners[i], to = corners[(i + 1) % 3];
        const glm::dvec3 inward = glm::normalize(glm::cross(unit, to - from));
        if (glm::dot(p - from, inward) < -tolerance)
            return false;
    }
    return true;
}

} // namespace

Solid unpack(const polytope& description)
{
    Solid solid;
    int highest = -1;
    Assets::forEachFace(description, [&](const std::int16_t* corners, std::uint32_t count, std::uint32_t rgb) {
        solid.faces.emplace_back(corners, corners + count);
        solid.faceColours.push_back(rgb);
        for (std::uint32_t i = 0; i < count; ++i)
            highest = std::max<int>(highest, corners[i]);
    });
    for (int i = 0; i <= highest; ++i)
        solid.points.push_back({description.points[i][0], description.points[i][1], description.points[i][2]});
    return solid;
}

glm::dvec3 faceNormal(const Solid& solid, int face)
{
    const auto& f = solid.faces[face];
    const glm::dvec3 p0 = solid.points[f[0]], p1 = solid.points[f[1]], p2 = solid.points[f[2]];
    return glm::normalize(glm::cross(p2 - p0, p1 - p0));
}

double planeDistance(const Solid& solid, int face)
{
    return glm::dot(faceNormal(solid, face), solid.points[solid.faces[face][0]]);
}

std::vector<std::string> nonPlanarFaces(const Solid& solid, double tolerance)
{
    std::vector<std::string> problems;
    for (int f = 0; f < static_cast<int>(solid.faces.size()); ++f) {
        const glm::dvec3 n = faceNormal(solid, f);
        const glm::dvec3 p0 = solid.points[solid.faces[f][0]];
        for (int index : solid.faces[f]) {
            const double off = glm::dot(solid.points[index] - p0, n);
            if (std::fabs(off) > tolerance) {
                problems.push_back(faceName(f) + ": point " + std::to_string(index) + " is "
                                   + std::to_string(off) + " off its plane");
                break;
            }
        }
    }
    return problems;
}

std::vector<std::string> uncoveredFaces(const Solid& solid, std::vector<int>* zeroAreaTriangles)
{
    std::vector<std::string> problems;
    if (zeroAreaTriangles)
        zeroAreaTriangles->assign(solid.faces.size(), 0);
    for (int f = 0; f < static_cast<int>(solid.faces.size()); ++f) {
        const auto& face = solid.faces[f];
        if (face.size() < 3) {
            problems.push_back(faceName(f) + ": fewer than three points");
            continue;
        }
        const glm::dvec3 p0 = solid.points[face[0]];
        const glm::dvec3 firstCross =
            glm::cross(solid.points[face[2]] - p0, solid.points[face[1]] - p0);
        if (glm::length(firstCross) < 1e-6) {
            problems.push_back(faceName(f) + ": first three points collinear");
            continue;
        }
        const glm::dvec3 n = glm::normalize(firstCross);
        for (const auto& t : fan(face)) {
            // Twice the area, counted positive when the triangle runs counter-clockwise
            // about the face's outward normal, as every fan triangle should.
            const double area2 = glm::dot(glm::cross(solid.points[t[1]] - p0, solid.points[t[2]] - p0), n);
            if (std::fabs(area2) < 1e-6) {
                if (zeroAreaTriangles)
                    ++(*zeroAreaTriangles)[f];
            } else if (area2 < 0) {
                problems.push_back(faceName(f) + ": fan triangle " + std::to_string(t[0]) + ", "
                                   + std::to_string(t[1]) + ", " + std::to_string(t[2])
                                   + " turns against the face");
            }
        }
    }
    return problems;
}

double signedVolume(const Solid& solid)
{
    double volume = 0;
    for (const auto& face : solid.faces)
        for (const auto& t : fan(face))
            volume += glm::dot(solid.points[t[0]], glm::cross(solid.points[t[1]], solid.points[t[2]])) / 6;
    return volume;
}

std::vector<EdgeUse> unpairedEdges(const Solid& solid)
{
    std::map<std::pair<int, int>, EdgeUse> edges;  // keyed by (smaller, larger) index
    for (const auto& face : solid.faces)
        for (const auto& t : fan(face))
            for (int i = 0; i < 3; ++i) {
                const int a = t[i], b = t[(i + 1) % 3];
                auto [it, fresh] = edges.try_emplace({std::min(a, b), std::max(a, b)}, EdgeUse{a, b, 0, 0});
                (a == it->second.from ? it->second.forward : it->second.back) += 1;
                (void)fresh;
            }
    std::vector<EdgeUse> problems;
    for (const auto& [key, use] : edges)
        if (use.forward != 1 || use.back != 1)
            problems.push_back(use);
    return problems;
}

int hostFace(const Solid& solid, const EdgeUse& edge, double tolerance)
{
    const glm::dvec3 a = solid.points[edge.from], b = solid.points[edge.to];
    const glm::dvec3 middle = (a + b) * 0.5;
    for (int f = 0; f < static_cast<int>(solid.faces.size()); ++f) {
        const auto& face = solid.faces[f];
        if (std::count(face.begin(), face.end(), edge.from) && std::count(face.begin(), face.end(), edge.to))
            continue;  // the edge's own face
        const glm::dvec3 n = faceNormal(solid, f);
        const glm::dvec3 p0 = solid.points[face[0]];
        if (std::fabs(glm::dot(a - p0, n)) > tolerance || std::fabs(glm::dot(b - p0, n)) > tolerance)
            continue;
        for (const auto& t : fan(face))
            if (insideTriangle(middle, solid.points[t[0]], solid.points[t[1]], solid.points[t[2]], tolerance))
                return f;
    }
    return -1;
}

std::vector<std::string> backFacesInSight(const Solid& solid, int directions, int across)
{
    struct Triangle {
        glm::dvec3 a, ab, ac;
        glm::dvec3 outward;
        int face;
    };
    std::vector<Triangle> triangles;
    double radius = 0;
    for (const auto& p : solid.points)
        radius = std::max(radius, glm::length(p));
    for (int f = 0; f < static_cast<int>(solid.faces.size()); ++f) {
        const glm::dvec3 n = faceNormal(solid, f);
        for (const auto& t : fan(solid.faces[f])) {
            const glm::dvec3 a = solid.points[t[0]], b = solid.points[t[1]], c = solid.points[t[2]];
            if (glm::length(glm::cross(b - a, c - a)) > 1e-9)
                triangles.push_back({a, b - a, c - a, n, f});
        }
    }
    std::vector<std::string> problems;
    const double golden = 3.14159265358979323846 * (3 - std::sqrt(5.0));
    for (int i = 0; i < directions; ++i) {
        // Directions on a Fibonacci spiral; a slight tilt keeps them off the symmetry planes.
        const double z = 1 - (i + 0.5) * 2 / directions, r = std::sqrt(1 - z * z), phi = golden * i + 0.1;
        const glm::dvec3 d = glm::normalize(glm::dvec3(r * std::cos(phi), r * std::sin(phi), z));
        const glm::dvec3 u = glm::normalize(glm::cross(d, std::fabs(d.x) < 0.9 ? glm::dvec3(1, 0, 0) : glm::dvec3(0, 1, 0)));
        const glm::dvec3 v = glm::cross(d, u);
        for (int gx = 0; gx < across; ++gx)
            for (int gy = 0; gy < across; ++gy) {
                const glm::dvec3 origin = (2 * (gx + 0.5) / across - 1) * radius * u +
                                          (2 * (gy + 0.5) / across - 1) * radius * v - 3 * radius * d;
                double nearest = 1e300;
                const Triangle* hit = nullptr;
                bool grazes = false;
                for (const Triangle& t : triangles) {
                    // Moller-Trumbore, both sides.
                    const glm::dvec3 p = glm::cross(d, t.ac);
                    const double det = glm::dot(t.ab, p);
                    if (std::fabs(det) < 1e-12)
                        continue;
                    const glm::dvec3 s = origin - t.a;
                    const double b1 = glm::dot(s, p) / det;
                    const glm::dvec3 q = glm::cross(s, t.ab);
                    const double b2 = glm::dot(d, q) / det;
                    const double along = glm::dot(t.ac, q) / det;
                    const double margin = 1e-7;
                    if (b1 < -margin || b2 < -margin || b1 + b2 > 1 + margin || along <= 0 || along > nearest + 1e-9)
                        continue;
                    const bool onEdge = b1 < margin || b2 < margin || b1 + b2 > 1 - margin;
                    if (along < nearest - 1e-9) {
                        nearest = along;
                        hit = &t;
                        grazes = onEdge;
                    } else {
                        grazes = grazes || onEdge || glm::dot(t.outward, d) * glm::dot(hit->outward, d) < 0;
                    }
                }
                if (hit && !grazes && glm::dot(hit->outward, d) > 0 && problems.size() < 20)
                    problems.push_back("direction " + std::to_string(i) + " line " + std::to_string(gx) + "," +
                                       std::to_string(gy) + " first meets the back of " + faceName(hit->face));
            }
    }
    return problems;
}

std::vector<std::string> repeatedPoints(const Solid& solid, double tolerance)
{
    std::vector<std::string> problems;
    for (size_t i = 0; i < solid.points.size(); ++i)
        for (size_t j = i + 1; j < solid.points.size(); ++j)
            if (glm::length(solid.points[i] - solid.points[j]) < tolerance)
                problems.push_back("points " + std::to_string(i) + " and " + std::to_string(j) + " coincide");
    return problems;
}

double roundTo(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double r = std::round(value * scale) / scale;
    return r == 0 ? 0.0 : r;
}

Histogram pointRadii(const Solid& solid, int decimals)
{
    Histogram h;
    for (const auto& p : solid.points)
        ++h[roundTo(glm::length(p), decimals)];
    return h;
}

Histogram facePlaneDistances(const Solid& solid, int decimals)
{
    Histogram h;
    for (int f = 0; f < static_cast<int>(solid.faces.size()); ++f)
        ++h[roundTo(planeDistance(solid, f), decimals)];
    return h;
}

Histogram distinctPlaneDistances(const Solid& solid, int decimals)
{
    std::vector<std::pair<glm::dvec3, double>> planes;
    for (int f = 0; f < static_cast<int>(solid.faces.size()); ++f) {
        const glm::dvec3 n = faceNormal(solid, f);
        const double d = planeDistance(solid, f);
        const bool known = std::any_of(planes.begin(), planes.end(), [&](const auto& plane) {
            return glm::length(plane.first - n) < 1e-4 && std::fabs(plane.second - d) < 1e-4;
        });
        if (!known)
            planes.push_back({n, d});
    }
    Histogram h;
    for (const auto& plane : planes)
        ++h[roundTo(plane.second, decimals)];
    return h;
}

std::map<int, int> faceKinds(const Solid& solid)
{
    std::map<int, int> kinds;
    for (const auto& face : solid.faces)
        ++kinds[static_cast<int>(face.size())];
    return kinds;
}

std::vector<FaceClass> faceClasses(const Solid& solid)
{
    std::vector<FaceClass> classes;
    for (size_t f = 0; f < solid.faces.size(); ++f) {
        const int corners = static_cast<int>(solid.faces[f].size());
        const std::uint32_t rgb = solid.faceColours[f];
        if (!classes.empty() && classes.back().corners == corners && classes.back().rgb == rgb)
            ++classes.back().count;
        else
            classes.push_back({1, corners, rgb});
    }
    return classes;
}

std::string describe(const std::vector<FaceClass>& classes)
{
    std::ostringstream text;
    for (const auto& c : classes) {
        char rgb[16];
        std::snprintf(rgb, sizeof rgb, "%06X", static_cast<unsigned>(c.rgb));
        text << c.count << " x " << c.corners << "-gon " << rgb << "; ";
    }
    return text.str();
}

} // namespace PolytopeChecks
