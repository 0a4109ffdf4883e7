#pragma once

#include "geometry.h"

#include "geometry/figures.h"

#include <vector>

namespace stellation {

using geometry::ConcaveRule;
using geometry::FaceClass;
using geometry::PointClass;

// A face that the published rows pin down before any search: its corners, and whether it looks
// towards the centre.
struct FaceHint {
    std::vector<Vec3> corners;
    bool towardCentre;
};

// Everything published about one of the two solids, and where its search may start.
struct SolidFigures : geometry::SolidFigures {
    // Where the published first face can only be one of a few faces of the diagram: those, each
    // tried as the first face of a solid in place (no rotation applied afterwards).
    std::vector<FaceHint> firstFaceHints;
};

const SolidFigures& tsi22Figures();
const SolidFigures& tsi28Figures();

} // namespace stellation
