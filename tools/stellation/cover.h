#pragma once

#include "arrangement.h"
#include "figures.h"
#include "surface.h"
#include "symmetry.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace stellation {

// Where the visible pieces of a plane cannot be the faces themselves (a piece that no corner
// sees whole, or more pieces than the published kinds allow), the faces are chosen instead as
// polygons that cover the plane's visible pieces exactly once and may run on beneath the
// surface, inside the solid, as a visible-surface model's faces may. A cover is searched on
// one plane of each orbit under the solid's rotations and carried to the others by them.

// A polygon of one plane: corners (arrangement vertex ids) counter-clockwise as seen from the
// side it is seen from, its sides on the lines where other planes cross this one.
struct CoverFace {
    int plane = 0;
    bool towardCentre = false;
    std::vector<int> corners;
    std::vector<int> regions;  // the plane's regions (see PlaneRegions) it covers
};

// The regions into which the other planes cut one plane, where a bounded cell touches it.
struct PlaneRegions {
    enum Kind { empty, hidden, outward, inward };  // outward/inward: seen from that side
    int plane = 0;
    std::vector<Kind> kind;
    std::vector<real> area;
    std::vector<Vec3> inner;  // a point inside each region
};

PlaneRegions planeRegions(const Arrangement& arr, const std::vector<char>& inSolid, int plane);

// One plane's covers: every set of polygons with corners among `points`, of the given kinds
// (corner count -> faces), each passing the concave rules and the fan rule, covering each
// visible region exactly once and otherwise only hidden regions, and mapped onto itself by
// `stabiliser` (rotations that keep the plane).
struct PlaneCovers {
    int plane = 0;
    PlaneRegions regions;
    std::vector<CoverFace> polygons;               // every admissible polygon
    std::vector<std::vector<int>> covers;          // each a list of indices into `polygons`
    std::vector<real> hiddenArea;                  // per cover, the hidden area its faces cover
    std::vector<char> overlapping;                 // per cover, whether two faces share a region
};

PlaneCovers searchPlaneCovers(const Arrangement& arr, const std::vector<Symmetry>& symmetries,
                              const std::vector<char>& inSolid, int plane, const std::vector<char>& points,
                              const std::map<int, int>& kinds, const std::vector<ConcaveRule>& concave,
                              const std::vector<int>& stabiliser);

// The faces of a solid whose planes are all covered: for each orbit of planes under
// `rotations`, the kinds of its colour, its covers, and the choice among the combinations
// that keep every corner of the surface: no two faces overlapping, then least hidden area.
// On success `faces` holds the faces of every plane (corners counter-clockwise from the
// side they are seen from), and `report` what the search found, in lines.
bool coverSolid(const Arrangement& arr, const std::vector<Symmetry>& symmetries, const std::vector<int>& rotations,
                const std::vector<char>& inSolid, const Surface& surface, const SolidFigures& figures,
                std::vector<Face>& faces, std::vector<std::string>& report);

// The faces of the tables against the cells: on every plane, each region seen from outside
// is covered by exactly one face turned that way, each region seen from the centre's side by
// exactly one face turned that way, hidden regions by any number and empty ones by none. So the
// faces show the surface of the cells, closed and without holes, and nothing else. Each
// problem found, in words.
std::vector<std::string> checkCoverage(const Arrangement& arr, const std::vector<char>& inSolid,
                                       const std::vector<Vec3>& points, const std::vector<std::vector<int>>& faces);

} // namespace stellation
