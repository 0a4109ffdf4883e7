#pragma once

#include <cstdint>

// Compact description of a polyhedron, referring to static tables it does not own.

// `faces` consecutive faces take the colour 0xRRGGBB; a run of 0 faces ends the list.
struct colour_run {
    std::int32_t faces;
    std::uint32_t rgb;
};

struct polytope {
    const float (*points)[3];     // model units, before scaling
    const std::int16_t* indices;  // each face's point indices, clockwise from outside, then -1
    std::uint64_t count;          // entries of indices, terminators included
    const colour_run* colours;
};
