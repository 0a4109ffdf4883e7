#pragma once

// The published figures of a solid in the shapes the polytope checks report, so that a test
// compares the two directly.

#include "polytope_checks.h"

#include "geometry/figures.h"

#include <map>
#include <vector>

namespace PublishedFigures {

inline PolytopeChecks::Histogram pointRadii(const geometry::SolidFigures& figures)
{
    PolytopeChecks::Histogram radii;
    for (const geometry::PointClass& c : figures.pointClasses)
        radii[c.radius] = c.count;
    return radii;
}

// Faces per corner count.
inline std::map<int, int> faceKinds(const geometry::SolidFigures& figures)
{
    std::map<int, int> kinds;
    for (const geometry::FaceClass& c : figures.faceClasses)
        kinds[c.corners] += c.count;
    return kinds;
}

} // namespace PublishedFigures
