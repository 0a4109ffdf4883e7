// polytope-gen: builds the catalogue tables (hub and star polyhedra) from their symmetry
// groups and representatives and writes them as C++ table fragments.
//
//   polytope-gen DIR          writes DIR/<name>.inc for each table
//   polytope-gen --check DIR  exits 1, naming the files, when DIR holds different tables

#include "solids.h"

#include "geometry/table.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

using polygen::Table;

std::string formatCoordinate(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    double rounded = std::round(value * scale) / scale;
    if (rounded == 0)
        rounded = 0;  // no "-0.0f"
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, rounded);
    std::string s = text;
    while (s.back() == '0' && s[s.size() - 2] != '.')
        s.pop_back();
    return s + "f";
}

} // namespace

int main(int argc, char** argv)
{
    const bool check = argc == 3 && std::string(argv[1]) == "--check";
    if (argc != 2 && !check) {
        std::cerr << "usage: polytope-gen [--check] DIR\n";
        return 2;
    }
    const std::string dir = argv[argc - 1];
    try {
        int differing = 0;
        for (const Table& table : polygen::allTables()) {
            polygen::checkTellingRows(table);
            const std::string path = dir + "/" + table.name + ".inc";
            const std::string text = geometry::tableSource(
                "tools/polytope-gen", table, [&](double x) { return formatCoordinate(x, table.decimals); });
            if (check) {
                if (!geometry::fileHolds(path, text)) {
                    std::cerr << path << " differs from the generated table\n";
                    ++differing;
                }
            } else if (!geometry::writeFile(path, text)) {
                std::cerr << "cannot write " << path << "\n";
                return 1;
            }
        }
        return differing == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "polytope-gen: " << e.what() << "\n";
        return 1;
    }
}
