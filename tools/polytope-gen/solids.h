#pragma once

#include "geometry.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace polygen {

// One catalogue table before it is written out: points in table order, faces as point
// indices clockwise from outside, colour runs (faces, 0xRRGGBB) without the end marker.
struct Table {
    std::string name;  // file stem in assets/tables
    int decimals = 6;  // digits after the point in the emitted coordinates
    std::vector<Vec3> points;
    std::vector<std::vector<int>> faces;
    std::vector<std::pair<int, std::uint32_t>> colours;
};

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
