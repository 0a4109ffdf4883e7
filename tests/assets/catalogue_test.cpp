// The catalogue's tables against the published figures of each solid, and the geometry that a
// mistaken table breaks. Pure: the tables and the flattened meshes, no GL.

#include "polytope_checks.h"
#include "published_figures.h"

#include "assets/catalogue.h"
#include "assets/polytope_mesh.h"

#include <glm/geometric.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace PolytopeChecks;

// What the catalogue's tables must show beyond the published figures.
struct Figures {
    const geometry::SolidFigures* published;
    Histogram planes;                             // distinct face planes: distance -> count
    std::map<std::pair<std::uint32_t, double>, int> facesByColourAndPlane;
    int tJunctionEdges = 0;                       // triangle edges lying across another face
    bool runsBeneath = false;                     // faces cover their planes' visible pieces and run on inside
};

void PrintTo(const Figures& figures, std::ostream* out) { *out << figures.published->name; }

const std::vector<Figures>& catalogueFigures()
{
    auto published = [](const char* name) { return &geometry::publishedFigures(name); };
    static const std::vector<Figures> figures{
        {published("hub"), {}, {}},
        {published("gticosidodeca"), {{0.6071, 20}, {0.8944, 12}}, {{{0xFF0000, 0.8944}, 60}, {{0xFFFF55, 0.6071}, 20}}},
        {published("dodecadodeca"), {{0.6071, 12}, {0.9822, 12}}, {{{0xFFFF55, 0.9822}, 60}, {{0x333333, 0.6071}, 12}}},
        {published("tsi22"), {{0.9342, 20}}, {{{0xC440AE, 0.9342}, 24}, {{0xD6C782, 0.9342}, 96}}},
        {published("sco2"), {{0.8165, 6}, {0.9428, 8}}, {{{0x00BB33, 0.9428}, 48}, {{0xFFFF55, 0.8165}, 48}}},
        {published("srtc15"), {{2.6180, 30}}, {{{0x73DDDD, 2.6180}, 180}}, 120},
        {published("srtc35"), {{2.6180, 30}}, {{{0xDD8585, 2.6180}, 180}}},
        {published("tsi28"), {{-0.9342, 12}, {0.9342, 20}},
         // In each of the 12 planes of one orbit a small triangle looks towards the centre.
         {{{0x4020AA, 0.9342}, 36}, {{0x908060, -0.9342}, 12}, {{0x908060, 0.9342}, 48}, {{0x33AAFF, 0.9342}, 12}},
         0, true},
    };
    return figures;
}

class CatalogueTest : public ::testing::TestWithParam<Figures> {
protected:
    void SetUp() override
    {
        entry = Assets::findCatalogueEntry(GetParam().published->name.c_str());
        ASSERT_NE(entry, nullptr);
        description = &entry->tables();
        solid = unpack(*description);
    }

    const Assets::CatalogueEntry* entry = nullptr;
    const polytope* description = nullptr;
    Solid solid;
};

std::string nameOf(const ::testing::TestParamInfo<Figures>& info) { return info.param.published->name; }

TEST_P(CatalogueTest, CountsMatchThePublishedFigures)
{
    const geometry::SolidFigures& f = *GetParam().published;
    EXPECT_FLOAT_EQ(entry->scale, f.scale);
    EXPECT_EQ(solid.points.size(), static_cast<size_t>(f.points));
    EXPECT_EQ(description->count, static_cast<std::uint64_t>(f.indexEntries));
    EXPECT_EQ(description->indices[description->count - 1], -1) << "the last face is not closed";
    EXPECT_EQ(faceKinds(solid), PublishedFigures::faceKinds(f));

    std::vector<std::pair<int, std::uint32_t>> runs;
    for (const colour_run* run = description->colours; run->faces != 0; ++run)
        runs.push_back({run->faces, run->rgb});
    EXPECT_EQ(runs, f.colours);
    int runFaces = 0;
    for (auto run : runs)
        runFaces += run.first;
    EXPECT_EQ(runFaces, static_cast<int>(solid.faces.size())) << "runs must cover the faces exactly";

    const Assets::PolytopeMesh mesh = Assets::flattenPolytope(*description, entry->scale);
    EXPECT_EQ(mesh.vertices.size(), static_cast<size_t>(f.verticesMade));
    EXPECT_EQ(mesh.elements.size(), static_cast<size_t>(f.elementsMade));

    double outer = 0, outerScaled = 0;
    for (const auto& p : solid.points)
        outer = std::max(outer, glm::length(p));
    for (const auto& v : mesh.vertices)
        outerScaled = std::max(outerScaled, static_cast<double>(glm::length(v.position)));
    EXPECT_NEAR(outer, f.outerRadius, 1e-4);
    EXPECT_NEAR(outerScaled, f.outerRadiusScaled, 1e-3);
}

TEST_P(CatalogueTest, PointClassesFacePlanesAndFaceClasses)
{
    const Figures& f = GetParam();
    EXPECT_EQ(pointRadii(solid), PublishedFigures::pointRadii(*f.published));
    if (f.published->name != "hub") {
        // The hub's waist faces lie in planes that pass beyond the centre; the star
        // polyhedra have every face plane on the near side, at the listed distances.
        EXPECT_EQ(distinctPlaneDistances(solid), f.planes);
        std::map<std::pair<std::uint32_t, double>, int> byColourAndPlane;
        for (int face = 0; face < static_cast<int>(solid.faces.size()); ++face)
            ++byColourAndPlane[{solid.faceColours[face], roundTo(planeDistance(solid, face), 4)}];
        EXPECT_EQ(byColourAndPlane, f.facesByColourAndPlane) << "a face turned inward shows a negative distance";
    }
    EXPECT_EQ(faceClasses(solid), f.published->faceClasses) << describe(faceClasses(solid));
}

TEST_P(CatalogueTest, TellingRows)
{
    const geometry::SolidFigures& f = *GetParam().published;
    for (const geometry::TellingPoint& row : f.telling) {
        ASSERT_LT(static_cast<size_t>(row.index), solid.points.size());
        const glm::dvec3 p = solid.points[row.index];
        // The published rows carry 3 to 4 decimals and one is off by 1.1e-4 (tsi22's point 1
        // reads -8.5831 for -8.583211); 2e-4 still tells every point from its neighbours.
        EXPECT_NEAR(p.x, row.position.x, 2e-4) << "point " << row.index;
        EXPECT_NEAR(p.y, row.position.y, 2e-4) << "point " << row.index;
        EXPECT_NEAR(p.z, row.position.z, 2e-4) << "point " << row.index;
    }
    ASSERT_FALSE(solid.faces.empty());
    EXPECT_EQ(solid.faces[0], f.firstFace);
}

TEST_P(CatalogueTest, FacesArePlanarOutwardAndCoveredByTheirFans)
{
    EXPECT_EQ(nonPlanarFaces(solid), std::vector<std::string>{});
    EXPECT_EQ(uncoveredFaces(solid), std::vector<std::string>{});
    EXPECT_EQ(repeatedPoints(solid), std::vector<std::string>{});
    for (const auto& face : solid.faces)
        for (int index : face)
            ASSERT_LT(index, static_cast<int>(solid.points.size()));
    EXPECT_GT(signedVolume(solid), 0) << "faces listed counter-clockwise from outside";
}

TEST_P(CatalogueTest, SurfaceIsClosed)
{
    // Every edge of the fan triangulation is shared by two triangles running along it in
    // opposite directions; together with the positive volume this makes every face outward.
    // The one exception is a visible-surface T-junction: in srtc15 each of the 120 triangles
    // has one edge (from a point at radius 3.7537 to one at 4.4659) that lies across the middle
    // of a quadrilateral, which runs on beneath the triangle; no other triangle uses that edge.
    if (GetParam().runsBeneath)
        GTEST_SKIP() << "faces run on beneath the surface, so their edges need not pair; lines of sight check it";
    std::vector<std::string> problems;
    int tJunctions = 0;
    for (const EdgeUse& e : unpairedEdges(solid)) {
        const int host = e.forward + e.back == 1 ? hostFace(solid, e) : -1;
        if (host >= 0 && solid.faces[host].size() == 4) {
            ++tJunctions;
            continue;
        }
        problems.push_back(std::to_string(e.from) + "-" + std::to_string(e.to) + ": " + std::to_string(e.forward)
                           + " forward, " + std::to_string(e.back) + " back");
    }
    EXPECT_EQ(problems, std::vector<std::string>{});
    EXPECT_EQ(tJunctions, GetParam().tJunctionEdges);
}

TEST_P(CatalogueTest, EveryLineOfSightFromOutsideMeetsAFrontFirst)
{
    // What the demo draws with back faces culled: a hole, or a face listed the wrong way round,
    // lets some line of sight meet the back of a face first.
    EXPECT_EQ(backFacesInSight(solid), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Solids, CatalogueTest, ::testing::ValuesIn(catalogueFigures()), nameOf);

TEST(Catalogue, SceneOrderAndStarPolyhedraFitInRadiusFive)
{
    const char* order[] = {"hub", "gticosidodeca", "dodecadodeca", "tsi22", "sco2", "srtc15", "srtc35", "tsi28"};
    const auto& catalogue = Assets::polytopeCatalogue();
    for (size_t i = 0; i < catalogue.size(); ++i)
        EXPECT_STREQ(catalogue[i].name, order[i]);
    for (size_t i = 1; i < catalogue.size(); ++i) {
        const Assets::PolytopeMesh mesh = Assets::flattenPolytope(catalogue[i].tables(), catalogue[i].scale);
        for (const auto& v : mesh.vertices)
            ASSERT_LE(glm::length(v.position), 5.0f) << catalogue[i].name;
    }
}

TEST(Catalogue, OversizedDescriptionFailsBeforeReadingAnything)
{
    // A count no list can hold fails at the reservation, before the null tables are touched.
    const colour_run colours[] = {{1, 0xFFFFFF}, {0, 0}};
    const polytope huge{nullptr, nullptr, ~std::uint64_t{0}, colours};
    EXPECT_THROW(Assets::flattenPolytope(huge, 1.0f), std::length_error);
}

TEST(Catalogue, HubAfterScaling)
{
    const auto* hub = Assets::findCatalogueEntry("hub");
    ASSERT_NE(hub, nullptr);
    const Assets::PolytopeMesh mesh = Assets::flattenPolytope(hub->tables(), hub->scale);
    ASSERT_EQ(mesh.vertices.size(), 112u);
    const auto& first = mesh.vertices.front();
    EXPECT_EQ(first.position, glm::vec3(0, 10, -10));
    EXPECT_EQ(first.colour, glm::vec3(1, 1, 1));
    // The roof normal of face 0, from its unscaled corners T(0), T(1) and the apex.
    const glm::vec3 t0(0, 2, -2), t1(1.56366f, 2, -1.24698f), apex(0, 4, 0);
    const glm::vec3 roof = glm::normalize(glm::cross(apex - t0, t1 - t0));
    EXPECT_NEAR(glm::distance(first.normal, roof), 0, 1e-6);
    EXPECT_GT(roof.y, 0);

    float top = -1e9f, bottom = 1e9f;
    for (const auto& v : mesh.vertices) {
        top = std::max(top, v.position.y);
        bottom = std::min(bottom, v.position.y);
        const float ring = std::hypot(v.position.x, v.position.z);
        if (v.position.y == 0) {
            EXPECT_NEAR(ring, 5, 1e-4);
        }
        if (std::fabs(v.position.y) == 10) {
            EXPECT_NEAR(ring, 10, 1e-4);
        }
    }
    EXPECT_EQ(top, 20);
    EXPECT_EQ(bottom, -10);

    // Faces 34 and 35 are the last six elements, in the last pastel.
    ASSERT_EQ(mesh.elements.size(), 120u);
    for (size_t i = 114; i < 120; ++i) {
        const auto& v = mesh.vertices[mesh.elements[i]];
        EXPECT_NEAR(glm::distance(v.colour, glm::vec3(0.8f, 0.6f, 1.0f)), 0, 1e-6);
        EXPECT_GE(mesh.elements[i], 106u);
    }
}

TEST(Catalogue, GTicosidodecaFansRunAroundTheirCentres)
{
    // Twelve fans of five, each triangle sharing its first outer point with the next one's
    // last, closing after five; red fans first, then the yellow triangles.
    for (const char* name : {"gticosidodeca", "dodecadodeca"}) {
        const Solid solid = unpack(Assets::findCatalogueEntry(name)->tables());
        for (int k = 0; k < 12; ++k)
            for (int j = 0; j < 5; ++j) {
                const auto& face = solid.faces[5 * k + j];
                const auto& next = solid.faces[5 * k + (j + 1) % 5];
                ASSERT_EQ(face.size(), 3u);
                EXPECT_EQ(face[0], 30 + k) << name << " fan " << k;
                EXPECT_EQ(next[2], face[1]) << name << " fan " << k << " triangle " << j;
            }
    }
    const Assets::PolytopeMesh mesh = Assets::flattenPolytope(Assets::findCatalogueEntry("gticosidodeca")->tables(), 1);
    for (size_t v = 0; v < mesh.vertices.size(); ++v)
        EXPECT_EQ(mesh.vertices[v].colour, v < 180 ? glm::vec3(1, 0, 0) : glm::vec3(1, 1, 1.0f / 3.0f)) << v;
}

} // namespace
