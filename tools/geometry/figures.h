#pragma once

#include "vector.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The published figures of the catalogue's solids: what the generators check their tables
// against and the tests check the committed tables against.
namespace geometry {

struct PointClass {
    int count;
    double radius;  // to the published 4 decimals
};

// A run of faces in table order: `count` faces of `corners` corners, coloured `rgb`.
struct FaceClass {
    int count;
    int corners;
    std::uint32_t rgb;
    bool operator==(const FaceClass& o) const { return count == o.count && corners == o.corners && rgb == o.rgb; }
};

// How a concave face of a given corner count looks: its reflex corners, and the zero-area
// triangles of the fan around its first point.
struct ConcaveRule {
    int corners;
    int reflex;
    int zeroAreaTriangles;
};

// A point as the published rows give it, to their 3 to 6 decimals.
struct TellingPoint {
    int index;
    Vec3<double> position;
};

struct SolidFigures {
    std::string name;  // the catalogue entry, and the file stem of its table
    float scale;
    int points;
    int indexEntries;
    int faces;
    int verticesMade;
    int elementsMade;
    double outerRadius;        // before scaling
    double outerRadiusScaled;  // after
    std::vector<std::pair<int, std::uint32_t>> colours;  // runs (faces, 0xRRGGBB), no end marker
    std::vector<PointClass> pointClasses;
    std::vector<FaceClass> faceClasses;  // in table order
    std::vector<TellingPoint> telling;
    std::vector<int> firstFace;
    std::vector<ConcaveRule> concave{};  // faces of other corner counts are convex
    double oppositeFreeRadius = 0;       // no point at this radius has its opposite in the table (0: none)
};

// Hub first, then the star polyhedra, in the order the scene builds them.
const std::vector<SolidFigures>& publishedFigures();

// Throws std::out_of_range for a name without figures.
const SolidFigures& publishedFigures(const std::string& name);

} // namespace geometry
