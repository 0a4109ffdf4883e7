#pragma once

#include "geometry.h"

#include "geometry/table.h"

#include <string>
#include <vector>

namespace polygen {

// One catalogue table before it is written out, with its file stem in assets/tables and the
// digits after the point of its emitted coordinates.
struct Table : geometry::Tables<double> {
    std::string name;
    int decimals = 6;
};

// Numbering. Coordinates equal within `tolerance` count as ties (exact values equal, apart by
// rounding) and pass the decision to the next key.
// - hub: the rings T(0..6), W(0..6), B(0..6), then the apex; faces in the construction order.
// - srtc15, srtc35: points ascending by x, then y, then z.
// - sco2: points ascending by x, then z, then y. Exact ties in x are common here, and z before y
//   is what makes the first face the green representative 8, 7, 12.
// - Faces given as a class of images: the representative first, in its stored order, then the
//   other images in lexicographic order of their index lists. Each image starts at the image of
//   the representative's first point (a reflection reverses the rest). srtc35's two classes
//   share one colour and are merged into one such list (interleaved), led by the first class.
// - gticosidodeca, dodecadodeca: see fanSolid in solids.cpp (a walk of the fans numbers the
//   outer points and the inner ones); the faces of outer points follow the fans, each starting
//   at its lowest index, clockwise, in lexicographic order of their index lists.
Table hubTable();
Table gticosidodecaTable();
Table dodecadodecaTable();
Table sco2Table();
Table srtc15Table();
Table srtc35Table();

// All six, in the order the files are written.
std::vector<Table> allTables();

// Throws std::runtime_error naming the first figure of the table that is off: a coordinate of a
// telling row, the first face, the face and point counts.
void checkTellingRows(const Table& table);

} // namespace polygen
