#pragma once

#include "arrangement.h"
#include "figures.h"
#include "polyhedron.h"
#include "symmetry.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace stellation {

// A solid as the search left it: a union of cells, given by the rotations that generate its
// symmetry group (each named by the images of planes 0 and 1) and one cell (its beyond-set)
// of each orbit that the union leaves out of the bounded cells.
// `covered`: the faces are not the visible pieces themselves but covers of them (see cover.h).
struct RecordedSolid {
    const SolidFigures* figures;
    std::vector<std::pair<int, int>> generators;
    std::vector<std::uint32_t> leftOut;
    bool covered = false;
};

const std::vector<RecordedSolid>& recordedSolids();

struct DerivedSolid {
    Polyhedron tables;
    std::string summary;
    std::vector<std::string> misses;  // published figures that the tables do not meet
    std::vector<std::string> covers;  // what the search for covers found, where it ran
};

DerivedSolid deriveRecorded(const Arrangement& arr, const std::vector<Symmetry>& symmetries,
                            const RecordedSolid& recorded);

// Searches the unions of cell orbits of one subgroup of each given order for solids that meet
// every published figure, and prints what it finds. False when none does.
bool searchSolid(const Arrangement& arr, const std::vector<Symmetry>& symmetries, const SolidFigures& figures,
                 const std::vector<int>& orders);

} // namespace stellation
