#pragma once

#include "arrangement.h"
#include "symmetry.h"

#include <functional>
#include <map>
#include <vector>

namespace stellation {

// The number of surface points wanted at each radius, radius in units of 1e-4.
using RadiusCounts = std::map<long, int>;

long radiusKey(Vec3 p);

// Depth-first search over the unions of cell orbits of a subgroup whose surface has exactly
// the wanted points (every other radius empty). Each vertex orbit's corner test is tabulated
// over the orbits of its cells, so that a partial choice already tells which vertices are
// certainly corners, certainly not, or still open; branches whose counts can no longer come out
// exactly are cut. `accept` is called with the cell set of every complete union that fits.
struct SearchStats {
    long long nodes = 0;
    long long leaves = 0;
};

// `required` gives cells whose membership is known beforehand: 1 in the solid, 0 outside,
// -1 either (empty: all free).
SearchStats searchUnions(const Arrangement& arr, const std::vector<Symmetry>& symmetries, const Subgroup& group,
                         const RadiusCounts& wanted,
                         const std::function<void(const std::vector<char>& inSolid)>& accept,
                         const std::vector<signed char>& required = {});

} // namespace stellation
