#include "solids.h"

#include "search.h"
#include "surface.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace stellation {

const std::vector<RecordedSolid>& recordedSolids()
{
    static const std::vector<RecordedSolid> solids{
        {&tsi22Figures(), {{0, 4}, {8, 7}}, {0x0020F, 0x0021E, 0x0021F, 0x0081F, 0x0028F, 0x0029F, 0x00A1F, 0x0281F}},
        {&tsi28Figures(), {}, {}},
    };
    return solids;
}

namespace {

int findRotation(const std::vector<Symmetry>& symmetries, int image0, int image1)
{
    for (std::size_t i = 0; i < symmetries.size(); ++i)
        if (symmetries[i].proper && symmetries[i].planeImage[0] == image0 && symmetries[i].planeImage[1] == image1)
            return static_cast<int>(i);
    return -1;
}

Subgroup generate(const std::vector<Symmetry>& symmetries, const std::vector<int>& generators)
{
    std::vector<int> elements{0};
    for (std::size_t k = 0; k < elements.size(); ++k)
        for (int g : generators) {
            std::vector<int> product(symmetries[0].planeImage.size());
            for (std::size_t p = 0; p < product.size(); ++p)
                product[p] = symmetries[g].planeImage[symmetries[elements[k]].planeImage[p]];
            for (std::size_t s = 0; s < symmetries.size(); ++s)
                if (symmetries[s].planeImage == product &&
                    std::find(elements.begin(), elements.end(), static_cast<int>(s)) == elements.end())
                    elements.push_back(static_cast<int>(s));
        }
    std::sort(elements.begin(), elements.end());
    return {elements};
}

// The symmetries (rotations and reflections) that map a cell set onto itself.
std::vector<int> stabiliser(const std::vector<Symmetry>& symmetries, const std::vector<char>& cells)
{
    std::vector<int> out;
    for (std::size_t s = 0; s < symmetries.size(); ++s) {
        bool keeps = true;
        for (std::size_t c = 0; c < cells.size() && keeps; ++c)
            if (cells[c] && !cells[symmetries[s].cellImage[c]]) keeps = false;
        if (keeps) out.push_back(static_cast<int>(s));
    }
    return out;
}

std::string groupName(const std::vector<Symmetry>& symmetries, const std::vector<int>& group)
{
    int rotations = 0;
    for (int s : group) rotations += symmetries[s].proper;
    Subgroup g;
    for (int s : group)
        if (symmetries[s].proper) g.elements.push_back(s);
    std::string name = subgroupName(symmetries, g);
    if (rotations != static_cast<int>(group.size())) name += " with reflections";
    else name += " (chiral)";
    return name + ", order " + std::to_string(group.size());
}

// Which run of the published face classes each face belongs to: the run of its corner count.
// A corner count shared by several runs is split over them by the orbits of the faces under the
// solid's rotations, inner classes (smaller mean corner radius) first.
bool assignRuns(const Arrangement& arr, const std::vector<Symmetry>& symmetries, const std::vector<int>& rotations,
                const std::vector<PlacedFace>& faces, const SolidFigures& figures, std::vector<int>& run)
{
    run.assign(faces.size(), -1);
    std::map<int, std::vector<int>> runsOfKind;
    for (std::size_t r = 0; r < figures.faces.size(); ++r) runsOfKind[figures.faces[r].corners].push_back(static_cast<int>(r));
    std::map<int, std::vector<int>> facesOfKind;
    for (std::size_t f = 0; f < faces.size(); ++f) facesOfKind[static_cast<int>(faces[f].corners.size())].push_back(static_cast<int>(f));
    for (const auto& entry : facesOfKind) {
        const auto runs = runsOfKind.find(entry.first);
        if (runs == runsOfKind.end()) return false;
        if (runs->second.size() == 1) {
            for (int f : entry.second) run[f] = runs->second[0];
            continue;
        }
        (void)arr;
        (void)symmetries;
        (void)rotations;
        return false;
    }
    return true;
}


DerivedSolid deriveCells(const Arrangement& arr, const std::vector<Symmetry>& symmetries,
                         const std::vector<char>& cells, const SolidFigures& figures)
{
    DerivedSolid out;
    const Surface surface = unionSurface(arr, cells);
    const std::vector<int> symmetry = stabiliser(symmetries, cells);
    std::vector<int> rotations;
    for (int s : symmetry)
        if (symmetries[s].proper) rotations.push_back(s);
    int kept = 0, inward = 0;
    for (char c : cells) kept += c;
    for (const Face& f : surface.faces) inward += f.towardCentre;
    std::ostringstream summary;
    summary << kept << " of " << arr.cells.size() << " bounded cells, symmetry " << groupName(symmetries, symmetry)
            << ", " << surface.faces.size() << " faces, " << inward << " facing the centre";
    out.summary = summary.str();
    if (!surface.problem.empty()) out.misses.push_back(surface.problem);
    const std::vector<PlacedFace> faces = placeFaces(surface, symmetries[0], arr);
    std::vector<int> run;
    if (!assignRuns(arr, symmetries, rotations, faces, figures, run)) {
        out.misses.push_back("the faces do not fall into the published classes");
        return out;
    }
    std::string problem;
    out.tables = numberSolid(arr, faces, run, figures, problem);
    if (!problem.empty()) {
        out.misses.push_back(problem);
        return out;
    }
    out.misses = checkFigures(out.tables, figures, arr.normals, arr.distance);
    return out;
}

RecordedSolid recordCells(const Arrangement& arr, const std::vector<Symmetry>& symmetries,
                          const std::vector<char>& cells, const SolidFigures& figures)
{
    RecordedSolid out{&figures, {}, {}};
    std::vector<int> rotations;
    for (int s : stabiliser(symmetries, cells))
        if (symmetries[s].proper) rotations.push_back(s);
    std::vector<int> generators;
    for (int r : rotations) {
        if (generate(symmetries, generators).order() == static_cast<int>(rotations.size())) break;
        const Subgroup now = generate(symmetries, generators);
        if (std::find(now.elements.begin(), now.elements.end(), r) != now.elements.end()) continue;
        generators.push_back(r);
        out.generators.push_back({symmetries[r].planeImage[0], symmetries[r].planeImage[1]});
    }
    std::vector<char> covered(cells.size(), 0);
    for (std::size_t c = 0; c < cells.size(); ++c) {
        if (cells[c] || covered[c]) continue;
        out.leftOut.push_back(arr.cells[c].beyond);
        for (int r : rotations) covered[symmetries[r].cellImage[c]] = 1;
    }
    return out;
}

std::vector<char> recordedCells(const Arrangement& arr, const std::vector<Symmetry>& symmetries,
                                const RecordedSolid& recorded)
{
    std::vector<int> generators;
    for (const auto& g : recorded.generators) generators.push_back(findRotation(symmetries, g.first, g.second));
    const Subgroup group = generate(symmetries, generators);
    std::vector<char> cells(arr.cells.size(), 1);
    for (std::uint32_t beyond : recorded.leftOut)
        for (int e : group.elements) cells[symmetries[e].cellImage[arr.cellOf.at(beyond)]] = 0;
    return cells;
}

void printRecord(const RecordedSolid& r)
{
    std::printf("    record: {&%sFigures(), {", r.figures->name.c_str());
    for (std::size_t i = 0; i < r.generators.size(); ++i)
        std::printf("%s{%d, %d}", i ? ", " : "", r.generators[i].first, r.generators[i].second);
    std::printf("}, {");
    for (std::size_t i = 0; i < r.leftOut.size(); ++i) std::printf("%s0x%05X", i ? ", " : "", r.leftOut[i]);
    std::printf("}}\n");
}

} // namespace

DerivedSolid deriveRecorded(const Arrangement& arr, const std::vector<Symmetry>& symmetries,
                            const RecordedSolid& recorded)
{
    if (recorded.generators.empty() && recorded.leftOut.empty()) {
        DerivedSolid out;
        out.misses.push_back("no cell set recorded");
        return out;
    }
    DerivedSolid out = deriveCells(arr, symmetries, recordedCells(arr, symmetries, recorded), *recorded.figures);
    out.summary = "all bounded cells but " + std::to_string(recorded.leftOut.size()) + " orbits: " + out.summary;
    return out;
}

bool searchSolid(const Arrangement& arr, const std::vector<Symmetry>& symmetries, const SolidFigures& figures,
                 const std::vector<int>& orders)
{
    RadiusCounts wanted;
    for (const PointClass& c : figures.points) wanted[std::lround(c.radius * 10000)] = c.count;
    std::map<int, int> kinds;
    for (const FaceRun& r : figures.faces) kinds[r.corners] += r.count;
    const std::vector<Subgroup> subgroups = rotationSubgroups(symmetries);
    bool found = false;
    for (int order : orders) {
        const Subgroup* group = nullptr;
        for (const Subgroup& g : subgroups)
            if (g.order() == order) {
                group = &g;
                break;
            }
        if (!group) continue;
        const auto started = std::chrono::steady_clock::now();
        std::map<std::string, int> tally;
        std::vector<std::vector<char>> matches;
        const SearchStats stats = searchUnions(arr, symmetries, *group, wanted, [&](const std::vector<char>& cells) {
            const Surface surface = unionSurface(arr, cells);
            std::map<int, int> got;
            int inward = 0;
            for (const Face& f : surface.faces) {
                got[static_cast<int>(f.corners.size())]++;
                inward += f.towardCentre;
            }
            if (got != kinds || !surface.problem.empty()) return;
            // Concave faces as published, each with a start whose fan covers it.
            bool shapes = true;
            for (const Face& f : surface.faces) {
                std::vector<Vec3> cw;
                for (auto it = f.corners.rbegin(); it != f.corners.rend(); ++it) cw.push_back(arr.vertices[*it]);
                const Vec3 outward = f.towardCentre ? -arr.normals[f.plane] : arr.normals[f.plane];
                const ConcaveRule* rule = nullptr;
                for (const ConcaveRule& r : figures.concave)
                    if (r.corners == static_cast<int>(cw.size())) rule = &r;
                if (reflexCorners(cw, outward) != (rule ? rule->reflex : 0)) shapes = false;
                bool start = false;
                for (std::size_t s = 0; s < cw.size() && !start; ++s) {
                    std::rotate(cw.begin(), cw.begin() + 1, cw.end());
                    const FanReport fan = fanFrom(cw, outward);
                    start = fan.covers && fan.zeroArea == (rule ? rule->zeroAreaTriangles : 0);
                }
                if (!start) shapes = false;
            }
            std::ostringstream key;
            key << inward << " faces facing the centre, " << (shapes ? "concave faces as published" : "some face not as published");
            tally[key.str()]++;
            if (shapes) matches.push_back(cells);
        });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("%s search, rotations of order %d (%s): %lld nodes, %lld unions with the published points, %.1f s\n",
                    figures.name.c_str(), order, subgroupName(symmetries, *group).c_str(), stats.nodes, stats.leaves,
                    seconds);
        for (const auto& t : tally) std::printf("  %d with the published face kinds: %s\n", t.second, t.first.c_str());
        for (const auto& cells : matches) {
            int kept = 0;
            for (char c : cells) kept += c;
            std::printf("  match: %d cells, symmetry %s\n", kept,
                        groupName(symmetries, stabiliser(symmetries, cells)).c_str());
            // Every placement by a symmetry of the planes that meets all figures, the
            // published rows included; placements that give the same cells count once.
            std::set<std::vector<char>> placements;
            for (const Symmetry& s : symmetries) {
                std::vector<char> placed(cells.size(), 0);
                for (std::size_t c = 0; c < cells.size(); ++c) placed[s.cellImage[c]] = cells[c];
                if (placements.count(placed)) continue;
                const DerivedSolid derived = deriveCells(arr, symmetries, placed, figures);
                if (!derived.misses.empty()) continue;
                placements.insert(placed);
                found = true;
                std::printf("    meets every figure when placed by a %s\n", s.proper ? "rotation" : "reflection");
                printRecord(recordCells(arr, symmetries, placed, figures));
            }
            if (placements.empty()) {
                // Report the closest placement: the one with the fewest misses.
                std::vector<std::string> fewest;
                for (const Symmetry& s : symmetries) {
                    std::vector<char> placed(cells.size(), 0);
                    for (std::size_t c = 0; c < cells.size(); ++c) placed[s.cellImage[c]] = cells[c];
                    const DerivedSolid derived = deriveCells(arr, symmetries, placed, figures);
                    if (fewest.empty() || derived.misses.size() < fewest.size()) fewest = derived.misses;
                }
                for (const std::string& m : fewest) std::printf("    misses: %s\n", m.c_str());
            }
        }
    }
    return found;
}

} // namespace stellation
