// Derives the tables of the two star polyhedra bounded by the 20 face planes of an
// icosahedron (createTSI22 and createTSI28) as unions of cells of the stellation diagram, checks
// every published figure and writes the tables out.
#include "arrangement.h"
#include "figures.h"
#include "polyhedron.h"
#include "search.h"
#include "solids.h"
#include "surface.h"
#include "symmetry.h"

#include "geometry/table.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace stellation;

namespace {

const char* usage =
    "usage: stellation [--emit DIR] [--check DIR] [--solid NAME] [--search [--orders N,N,...]]\n"
    "  Rebuilds each solid from its recorded cell set (where recorded so, its faces chosen\n"
    "  afresh as covers of the visible pieces of its planes), checks every published figure\n"
    "  and prints the cell set, its symmetry, the covers and the run time. Fails for a solid\n"
    "  without a recorded cell set or with a missed figure.\n"
    "  --emit DIR    write DIR/<solid>.inc\n"
    "  --check DIR   fail unless DIR/<solid>.inc equals the derived tables\n"
    "  --solid NAME  only this solid (tsi22 or tsi28)\n"
    "  --search      derive the cell sets afresh: search the unions of the cell orbits of\n"
    "                subgroups of the icosahedral rotations of the given orders (default 12,\n"
    "                the chiral tetrahedral group; 6 and below take hours) for every solid\n"
    "                that meets the published figures, and print each with its record\n";

// The shortest decimal (7 to 9 significant digits) that reads back as the float nearest to x.
std::string floatLiteral(real x)
{
    if (std::fabs(x) < 1e-12L) x = 0;
    const float target = static_cast<float>(x);
    char text[64];
    for (int digits = 7; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(target));
        if (std::strtof(text, nullptr) == target) break;
    }
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s + "f";
}

} // namespace

int main(int argc, char** argv)
{
    const auto started = std::chrono::steady_clock::now();
    std::string emitDir, checkDir, only;
    bool search = false;
    std::vector<int> orders{12};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--emit" && i + 1 < argc) emitDir = argv[++i];
        else if (arg == "--check" && i + 1 < argc) checkDir = argv[++i];
        else if (arg == "--search") search = true;
        else if (arg == "--solid" && i + 1 < argc) only = argv[++i];
        else if (arg == "--orders" && i + 1 < argc) {
            orders.clear();
            std::stringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');) orders.push_back(std::stoi(item));
        } else {
            std::fputs(usage, arg == "--help" ? stdout : stderr);
            return arg == "--help" ? 0 : 2;
        }
    }

    const real phi = (1 + std::sqrt(5.0L)) / 2;
    const Arrangement arr = buildArrangement(icosahedronFaceNormals(), phi / std::sqrt(3.0L));
    const std::vector<Symmetry> symmetries = planeSymmetries(arr);
    std::printf("arrangement: %zu planes at distance %.6Lf, %zu vertices, %zu bounded cells, %zu symmetries\n",
                arr.normals.size(), arr.distance, arr.vertices.size(), arr.cells.size(), symmetries.size());

    bool ok = true;
    for (const RecordedSolid& recorded : recordedSolids()) {
        const SolidFigures& figures = *recorded.figures;
        if (!only.empty() && only != figures.name) continue;
        if (search) ok &= searchSolid(arr, symmetries, figures, orders);
        const DerivedSolid derived = deriveRecorded(arr, symmetries, recorded);
        std::printf("%s: %s\n", figures.name.c_str(), derived.summary.c_str());
        for (const std::string& line : derived.covers) std::printf("  covers of the %s\n", line.c_str());
        for (const std::string& miss : derived.misses) std::printf("  MISSED: %s\n", miss.c_str());
        if (!derived.misses.empty() || derived.tables.points.empty()) {
            ok = false;
            continue;
        }
        const std::string source = geometry::tableSource("tools/stellation", derived.tables, floatLiteral);
        const std::string file = figures.name + ".inc";
        if (!emitDir.empty() && !geometry::writeFile(emitDir + "/" + file, source)) {
            std::fprintf(stderr, "cannot write %s/%s\n", emitDir.c_str(), file.c_str());
            ok = false;
        }
        if (!checkDir.empty() && !geometry::fileHolds(checkDir + "/" + file, source)) {
            std::printf("  %s/%s differs from the derived tables\n", checkDir.c_str(), file.c_str());
            ok = false;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("run time %.2f s\n", seconds);
    return ok ? 0 : 1;
}
