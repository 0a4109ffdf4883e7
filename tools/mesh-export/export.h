#pragma once

#include "png.h"

#include "assets/polytope.h"

#include <string>

namespace meshexport {

// Wavefront OBJ of a solid: its points x scale as `v` lines in table order, its faces as
// polygon `f` lines in table order, each with the material of its colour (rgb_RRGGBB, defined
// in `materialFile` beside it). A face's points are written from its first point on in the
// reverse of the table's clockwise order: counter-clockwise from outside, as OBJ expects, and
// with the first point first, so a viewer's fan gives the demo's triangles.
std::string solidObj(const std::string& name, const polytope& description, float scale,
                     const std::string& materialFile);
std::string solidMtl(const polytope& description);

// The ground lattice as the ground program places it, (x, y) at (2x, 0, 2y), as triangles.
std::string groundObj();

// A flat-shaded view of the solid from the front and a little above, lit from the demo's
// light direction, with face outlines drawn darker; back faces are culled, so a face turned
// inward shows as a hole.
Image renderSolid(const polytope& description, float scale, int size);

} // namespace meshexport
