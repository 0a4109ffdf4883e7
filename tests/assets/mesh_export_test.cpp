// The export tool's files, read back by an independent reader: Debian's assimp command-line
// tool, both as a raw import (faces as written) and triangulated.

#include "assets/catalogue.h"
#include "assets/polytope_mesh.h"
#include "support/command.h"

#include <glm/geometric.hpp>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>


namespace {

namespace fs = std::filesystem;

struct Reading {
    long vertices = -1, faces = -1;
    double min[3]{}, max[3]{};
    std::set<std::string> materials;
};

Reading assimpInfo(const fs::path& file, bool raw)
{
    const std::string command = "assimp info \"" + file.string() + "\"" + (raw ? " -r" : "") + " 2>/dev/null";
    const std::string text = TestSupport::commandOutput(command);
    Reading r;
    // The summary lines read "Vertices:   600", "Minimum point      (-4.2 -4.2 -4.2)"; the
    // named materials "    'rgb_73DDDD' (prop) ...".
    auto after = [&](const char* label) -> const char* {
        const size_t at = text.find(std::string("\n") + label);
        return at == std::string::npos ? nullptr : text.c_str() + at + 1 + std::strlen(label);
    };
    if (const char* p = after("Vertices:"))
        r.vertices = std::strtol(p, nullptr, 10);
    if (const char* p = after("Faces:"))
        r.faces = std::strtol(p, nullptr, 10);
    if (const char* p = after("Minimum point"))
        std::sscanf(p, " (%lf %lf %lf)", &r.min[0], &r.min[1], &r.min[2]);
    if (const char* p = after("Maximum point"))
        std::sscanf(p, " (%lf %lf %lf)", &r.max[0], &r.max[1], &r.max[2]);
    for (size_t at = text.find("'rgb_"); at != std::string::npos; at = text.find("'rgb_", at + 1))
        r.materials.insert(text.substr(at + 1, 10));
    return r;
}

class MeshExport : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = fs::current_path() / "mesh-export-out";
        fs::remove_all(dir);
        fs::create_directories(dir);
        const std::string command = std::string("\"") + MESH_EXPORT + "\" \"" + dir.string() + "\"";
        status = std::system(command.c_str());
    }
    static fs::path dir;
    static int status;
};
fs::path MeshExport::dir;
int MeshExport::status = -1;

long zeroAreaTriangles(const Assets::PolytopeMesh& mesh)
{
    long count = 0;
    for (size_t i = 0; i + 2 < mesh.elements.size(); i += 3) {
        const glm::dvec3 a(mesh.vertices[mesh.elements[i]].position);
        const glm::dvec3 b(mesh.vertices[mesh.elements[i + 1]].position);
        const glm::dvec3 c(mesh.vertices[mesh.elements[i + 2]].position);
        const glm::dvec3 cross = glm::cross(b - a, c - a);
        count += glm::dot(cross, cross) < 1e-10;
    }
    return count;
}

TEST_F(MeshExport, SolidsReadBackWithTheirCounts)
{
    ASSERT_EQ(status, 0);
    for (const Assets::CatalogueEntry& entry : Assets::polytopeCatalogue()) {
        SCOPED_TRACE(entry.name);
        const polytope& tables = entry.tables();
        const Assets::PolytopeMesh mesh = Assets::flattenPolytope(tables, entry.scale);
        size_t faces = 0;
        for (std::uint64_t i = 0; i < tables.count; ++i)
            faces += tables.indices[i] == -1;
        std::set<std::string> colours;
        for (const colour_run* run = tables.colours; run->faces != 0; ++run) {
            char name[16];
            std::snprintf(name, sizeof name, "rgb_%06X", static_cast<unsigned>(run->rgb));
            colours.insert(name);
        }

        const fs::path obj = dir / (std::string(entry.name) + ".obj");
        ASSERT_TRUE(fs::exists(obj));
        EXPECT_TRUE(fs::exists(dir / (std::string(entry.name) + ".mtl")));

        const Reading raw = assimpInfo(obj, true);
        EXPECT_EQ(raw.faces, static_cast<long>(faces));
        EXPECT_EQ(raw.vertices, static_cast<long>(mesh.vertices.size()));
        EXPECT_EQ(raw.materials, colours);
        // The reader triangulates on its own and may drop triangles of zero area, which the
        // concave faces of the stellations have by design (a reflex corner on a fan line).
        const Reading triangulated = assimpInfo(obj, false);
        const long triangles = static_cast<long>(mesh.elements.size() / 3);
        EXPECT_LE(triangulated.faces, triangles);
        EXPECT_GE(triangulated.faces, triangles - zeroAreaTriangles(mesh));

        for (int axis = 0; axis < 3; ++axis) {
            float low = 1e9f, high = -1e9f;
            for (const auto& v : mesh.vertices) {
                low = std::min(low, v.position[axis]);
                high = std::max(high, v.position[axis]);
            }
            EXPECT_NEAR(raw.min[axis], low, 1e-4) << "axis " << axis;
            EXPECT_NEAR(raw.max[axis], high, 1e-4) << "axis " << axis;
        }
    }
}

TEST_F(MeshExport, GroundReadsBackAsThePlacedLattice)
{
    ASSERT_EQ(status, 0);
    const Reading raw = assimpInfo(dir / "ground.obj", true);
    EXPECT_EQ(raw.faces, 24576);
    EXPECT_EQ(raw.vertices, 73728);  // the reader keeps one vertex per face corner
    const double expectedMin[] = {-128, 0, -110.85125}, expectedMax[] = {128, 0, 110.85125};
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(raw.min[axis], expectedMin[axis], 1e-4);
        EXPECT_NEAR(raw.max[axis], expectedMax[axis], 1e-4);
    }
}

} // namespace
