#pragma once

#include "geometry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace stellation {

struct PointClass {
    int count;
    real radius;  // as published, to 4 decimals
};

// A run of faces in table order: `count` faces of `corners` corners, coloured `rgb`.
struct FaceRun {
    int count;
    int corners;
    std::uint32_t rgb;
};

// How a concave face of a given corner count looks: its reflex corners, and the zero-area
// triangles of the fan around its first point.
struct ConcaveRule {
    int corners;
    int reflex;
    int zeroAreaTriangles;
};

// A face that the published rows pin down before any search: its corners, and whether it looks
// towards the centre.
struct FaceHint {
    std::vector<Vec3> corners;
    bool towardCentre;
};

// Everything published about one of the two solids.
struct SolidFigures {
    std::string name;  // file stem of the emitted table
    std::vector<PointClass> points;
    std::vector<FaceRun> faces;
    std::vector<ConcaveRule> concave;  // faces of other corner counts are convex
    real oppositeFreeRadius;           // no point at this radius has its opposite in the table (0: none)
    Vec3 point0, point1;               // the first two points, to the published digits
    std::vector<int> firstFace;        // its point indices, in table order
    real outerRadius;
    real scale;
    int indexEntries;
    int verticesMade;
    int elementsMade;
    // Where the published first face can only be one of a few faces of the diagram: those, each
    // tried as the first face of a solid in place (no rotation applied afterwards).
    std::vector<FaceHint> firstFaceHints;
};

const SolidFigures& tsi22Figures();
const SolidFigures& tsi28Figures();

} // namespace stellation
