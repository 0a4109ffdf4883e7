#pragma once

// Geometric checks of a polytope description, independent of the builder: each check returns
// the problems it found as readable lines (empty: the property holds), so that a test can
// print them all at once. Shared by the catalogue tests of every solid.

#include "assets/polytope.h"
#include "geometry/figures.h"

#include <glm/vec3.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace PolytopeChecks {

// A description unpacked into double precision, faces as lists of point indices.
struct Solid {
    std::vector<glm::dvec3> points;
    std::vector<std::vector<int>> faces;
    std::vector<std::uint32_t> faceColours;  // per face, from the runs (with wrap-around)
};

// Reads the tables up to `count`, scaling nothing.
Solid unpack(const polytope& description);

// The outward normal the builder derives from a face's first three points (stored clockwise
// from outside): normalize(cross(p2 - p0, p1 - p0)).
glm::dvec3 faceNormal(const Solid& solid, int face);

// Distance of the face's plane from the centre, measured along its outward normal; negative
// when the plane passes on the far side of the centre.
double planeDistance(const Solid& solid, int face);

// Faces with a point farther than `tolerance` from the plane of their first three points.
std::vector<std::string> nonPlanarFaces(const Solid& solid, double tolerance = 1e-4);

// Faces whose fan around the first point does not cover them exactly: some fan triangle turns
// against the face (the first point does not see the whole face), or the first three points
// are collinear. `zeroAreaTriangles` receives, per face, its fan triangles of zero area.
std::vector<std::string> uncoveredFaces(const Solid& solid, std::vector<int>* zeroAreaTriangles = nullptr);

// Volume enclosed by the fan triangles, each counter-clockwise from outside as the builder
// emits them: positive when the faces point outward as a whole.
double signedVolume(const Solid& solid);

// Edges of the fan triangulation not shared by exactly two triangles running along them in
// opposite directions: what keeps the surface from being closed and consistently oriented.
struct EdgeUse {
    int from, to;       // as one of the triangles runs along it
    int forward, back;  // triangles along from -> to and along to -> from
};
std::vector<EdgeUse> unpairedEdges(const Solid& solid);

// For an edge used by one triangle only: the face (not its own) whose area it lies in, or -1.
// Such an edge is a T-junction of a visible-surface model: a piece that stands on the middle
// of another face, which runs on beneath it.
int hostFace(const Solid& solid, const EdgeUse& edge, double tolerance = 1e-4);

// Lines of sight from outside, parallel bundles from `directions` directions spread over the
// sphere, `across` x `across` lines each over the solid's extent: the first face each line
// meets must show it its front, as the builder's back-face culling requires. A hole shows the
// back of a face behind it, and so does a face listed the wrong way round. Lines that graze an
// edge are left out. Returns the lines that see a back face.
std::vector<std::string> backFacesInSight(const Solid& solid, int directions = 200, int across = 24);

// Pairs of points closer than `tolerance`.
std::vector<std::string> repeatedPoints(const Solid& solid, double tolerance = 1e-4);

// Counts keyed by a value rounded to `decimals` (radii, plane distances).
using Histogram = std::map<double, int>;
double roundTo(double value, int decimals);
Histogram pointRadii(const Solid& solid, int decimals = 4);
Histogram facePlaneDistances(const Solid& solid, int decimals = 4);  // faces per distance
Histogram distinctPlaneDistances(const Solid& solid, int decimals = 4);  // planes per distance
std::map<int, int> faceKinds(const Solid& solid);  // faces per corner count

// Runs of consecutive faces of one kind and colour, in table order: the face classes.
using FaceClass = geometry::FaceClass;
std::vector<FaceClass> faceClasses(const Solid& solid);
std::string describe(const std::vector<FaceClass>& classes);

} // namespace PolytopeChecks
