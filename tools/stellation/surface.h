#pragma once

#include "arrangement.h"

#include <cstdint>
#include <string>
#include <vector>

namespace stellation {

// One face of the surface of a union of cells: a maximal connected region of one plane
// where a cell of the solid meets a cell outside it.
struct Face {
    int plane = 0;
    bool towardCentre = false;  // the solid lies beyond the plane, so the face looks inward
    std::vector<int> boundary;  // every vertex along its border, counter-clockwise from outside
    std::vector<int> corners;   // the vertices where the border turns
    std::uint32_t rgb = 0;      // the colour, where the faces were chosen by colour (0: not yet)
};

struct Surface {
    std::vector<Face> faces;
    std::string problem;  // non-empty when a face has a hole or a pinched border
};

// The surface of the union of the cells marked in `inSolid` (indexed like arr.cells).
Surface unionSurface(const Arrangement& arr, const std::vector<char>& inSolid);

// Decides from the cells around one vertex alone whether it is a corner of some face of the
// surface of a union of cells; the search calls it millions of times.
class CornerTest {
public:
    CornerTest(const Arrangement& arr, int vertex);

    const std::vector<int>& cells() const { return incidentCells; }
    // `inside[i]` tells whether cells()[i] belongs to the solid.
    bool isCorner(const std::vector<char>& inside) const;

private:
    struct Wedge {
        int cell;       // index into incidentCells
        int neighbour;  // index into incidentCells, or -1 for a cell never in the solid
        int plane;
        bool beyond;    // the cell lies beyond the plane
        int before, after;  // the wedge's border vertices next to the vertex, in facet order
    };
    const Arrangement* arr;
    int vertex;
    std::vector<int> incidentCells;
    std::vector<Wedge> wedges;
};

} // namespace stellation
