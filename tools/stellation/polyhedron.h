#pragma once

#include "arrangement.h"
#include "figures.h"
#include "surface.h"
#include "symmetry.h"

#include "geometry/table.h"

#include <cstdint>
#include <string>
#include <vector>

namespace stellation {

// The tables of one solid, as they are written out.
using Polyhedron = geometry::Tables<real>;

// A face of an unnumbered solid: arrangement vertex ids counter-clockwise from outside.
struct PlacedFace {
    int plane;
    bool towardCentre;
    std::vector<int> corners;
};

// The faces of a surface after applying a symmetry of the planes (orientation kept).
std::vector<PlacedFace> placeFaces(const Surface& surface, const Symmetry& symmetry, const Arrangement& arr);

// Fan of a face around its first point (table order, clockwise from outside, `outward` the
// face's outward normal): whether the triangles cover the face exactly, and how many have zero area.
struct FanReport {
    bool covers = false;
    int zeroArea = 0;
};
FanReport fanFrom(const std::vector<Vec3>& corners, Vec3 outward);
int reflexCorners(const std::vector<Vec3>& corners, Vec3 outward);

// The order of the points in the tables: x ascending, then y descending, then z descending.
bool xOrder(Vec3 p, Vec3 q);

// Numbers the points and orders the faces of a placed solid so that the published rows hold.
// Returns an empty Polyhedron and sets `problem` where that is impossible.
Polyhedron numberSolid(const Arrangement& arr, const std::vector<PlacedFace>& faces,
                       const std::vector<int>& faceRun, const SolidFigures& figures, std::string& problem);

// Every published figure that the tables miss, in words; empty when all hold. `edgesPaired`:
// the surface counts as closed when every edge of the fan triangles is met once each way; faces
// that meet others at T-junctions or run on beneath the surface are checked against the cells
// instead (see checkCoverage).
std::vector<std::string> checkFigures(const Polyhedron& solid, const SolidFigures& figures,
                                      const std::vector<Vec3>& planeNormals, real planeDistance,
                                      bool edgesPaired = true);

} // namespace stellation
