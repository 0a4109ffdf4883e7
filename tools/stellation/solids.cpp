#include "solids.h"

#include "cover.h"
#include "search.h"
#include "surface.h"

#include "geometry/group.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace stellation {

const std::vector<RecordedSolid>& recordedSolids()
{
    static const std::vector<RecordedSolid> solids{
        {&tsi22Figures(), {{0, 4}, {8, 7}}, {0x0020F, 0x0021E, 0x0021F, 0x0081F, 0x0028F, 0x0029F, 0x00A1F, 0x0281F}},
        // Under the chiral tetrahedral group the only union with the published points whose
        // visible pieces come in the published kinds (287 cells) shows, in each plane of the
        // orbit of 12, a hexagon that no corner sees whole: its faces are covers of the visible
        // pieces (cover.h).
        {&tsi28Figures(), {{0, 4}, {8, 7}},
         {0x0008F, 0x0020F, 0x000A7, 0x000C7, 0x0021E, 0x0003F, 0x0009F, 0x0021F, 0x0201F, 0x0028F, 0x001C7, 0x000BF,
          0x0203F, 0x0029F, 0x00A1F, 0x0281F},
         true},
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

// The elements are indices into `symmetries`, the identity at 0; the product g e is the symmetry
// that moves the planes as e and then g do.
Subgroup generate(const std::vector<Symmetry>& symmetries, const std::vector<int>& generators)
{
    auto product = [&](int g, int e) {
        std::vector<int> planes(symmetries[0].planeImage.size());
        for (std::size_t p = 0; p < planes.size(); ++p) planes[p] = symmetries[g].planeImage[symmetries[e].planeImage[p]];
        for (std::size_t s = 0; s < symmetries.size(); ++s)
            if (symmetries[s].planeImage == planes) return static_cast<int>(s);
        return -1;
    };
    std::vector<int> elements = geometry::closeGroup(0, generators, product, std::equal_to<int>());
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
// Where several runs share a corner count, the faces are split over them by whole orbits under
// the solid's rotations, taken by mean corner radius (innermost first), the runs in table order.
bool assignRuns(const Arrangement& arr, const std::vector<Symmetry>& symmetries, const std::vector<int>& rotations,
                const std::vector<PlacedFace>& faces, const SolidFigures& figures, std::vector<int>& run)
{
    run.assign(faces.size(), -1);
    std::map<int, std::vector<int>> runsOfKind;
    for (std::size_t r = 0; r < figures.faceClasses.size(); ++r) runsOfKind[figures.faceClasses[r].corners].push_back(static_cast<int>(r));
    std::map<int, std::vector<int>> facesOfKind;
    for (std::size_t f = 0; f < faces.size(); ++f) facesOfKind[static_cast<int>(faces[f].corners.size())].push_back(static_cast<int>(f));
    auto cornerSet = [&](const PlacedFace& f) { return std::set<int>(f.corners.begin(), f.corners.end()); };
    for (const auto& entry : facesOfKind) {
        const auto runs = runsOfKind.find(entry.first);
        if (runs == runsOfKind.end()) return false;
        // Orbits of these faces under the rotations.
        std::vector<std::vector<int>> orbits;
        std::vector<char> seen(faces.size(), 0);
        for (int f : entry.second) {
            if (seen[f]) continue;
            std::vector<int> orbit;
            for (int r : rotations) {
                std::set<int> image;
                for (int v : faces[f].corners) image.insert(symmetries[r].vertexImage[v]);
                for (int g : entry.second)
                    if (!seen[g] && cornerSet(faces[g]) == image) {
                        seen[g] = 1;
                        orbit.push_back(g);
                    }
            }
            orbits.push_back(orbit);
        }
        auto meanRadius = [&](const std::vector<int>& orbit) {
            real sum = 0;
            for (int v : faces[orbit[0]].corners) sum += length(arr.vertices[v]);
            return sum / faces[orbit[0]].corners.size();
        };
        std::stable_sort(orbits.begin(), orbits.end(), [&](const std::vector<int>& a, const std::vector<int>& b) {
            return meanRadius(a) < meanRadius(b);
        });
        // Fill the runs in table order with consecutive orbits.
        std::size_t next = 0;
        for (int r : runs->second) {
            int left = figures.faceClasses[r].count;
            while (left > 0 && next < orbits.size()) {
                if (static_cast<int>(orbits[next].size()) > left) return false;
                for (int f : orbits[next]) run[f] = r;
                left -= static_cast<int>(orbits[next].size());
                ++next;
            }
            if (left != 0) return false;
        }
        if (next != orbits.size()) return false;
    }
    return true;
}

DerivedSolid deriveCells(const Arrangement& arr, const std::vector<Symmetry>& symmetries,
                         const std::vector<char>& cells, const SolidFigures& figures, bool covered)
{
    DerivedSolid out;
    Surface surface = unionSurface(arr, cells);
    const std::vector<int> symmetry = stabiliser(symmetries, cells);
    std::vector<int> rotations;
    for (int s : symmetry)
        if (symmetries[s].proper) rotations.push_back(s);
    int kept = 0, inward = 0;
    for (char c : cells) kept += c;
    for (const Face& f : surface.faces) inward += f.towardCentre;
    std::ostringstream summary;
    summary << kept << " of " << arr.cells.size() << " bounded cells, symmetry " << groupName(symmetries, symmetry)
            << ", " << surface.faces.size() << (covered ? " visible pieces, " : " faces, ") << inward
            << " facing the centre";
    if (!surface.problem.empty()) out.misses.push_back(surface.problem);
    if (covered) {
        std::vector<Face> faces;
        if (!coverSolid(arr, symmetries, rotations, cells, surface, figures, faces, out.covers)) {
            out.summary = summary.str();
            out.misses.push_back("no choice of covers meets the rule");
            return out;
        }
        surface.faces = std::move(faces);
        inward = 0;
        for (const Face& f : surface.faces) inward += f.towardCentre;
        summary << "; covered by " << surface.faces.size() << " faces, " << inward << " facing the centre";
    }
    out.summary = summary.str();
    const std::vector<PlacedFace> faces = placeFaces(surface, symmetries[0], arr);
    std::vector<int> run;
    if (covered) {
        // Each face takes the run of its colour and corner count.
        for (const Face& f : surface.faces) {
            run.push_back(-1);
            for (std::size_t r = 0; r < figures.faceClasses.size(); ++r)
                if (figures.faceClasses[r].rgb == f.rgb && figures.faceClasses[r].corners == static_cast<int>(f.corners.size()))
                    run.back() = static_cast<int>(r);
            if (run.back() < 0) {
                out.misses.push_back("a face fits none of the published classes of its colour");
                return out;
            }
        }
    } else if (!assignRuns(arr, symmetries, rotations, faces, figures, run)) {
        out.misses.push_back("the faces do not fall into the published classes");
        return out;
    }
    std::string problem;
    out.tables = numberSolid(arr, faces, run, figures, problem);
    if (!problem.empty()) {
        out.misses.push_back(problem);
        return out;
    }
    out.misses = checkFigures(out.tables, figures, arr.normals, arr.distance, !covered);
    if (covered)
        for (const std::string& problem : checkCoverage(arr, cells, out.tables.points, out.tables.faces))
            out.misses.push_back(problem);
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
    std::printf("}%s}\n", r.covered ? ", true" : "");
}

} // namespace

DerivedSolid deriveRecorded(const Arrangement& arr, const std::vector<Symmetry>& symmetries,
                            const RecordedSolid& recorded)
{
    if (recorded.generators.empty() && recorded.leftOut.empty()) {
        DerivedSolid out;
        out.misses.push_back("no cell set meeting every figure has been found (see --search)");
        return out;
    }
    DerivedSolid out =
        deriveCells(arr, symmetries, recordedCells(arr, symmetries, recorded), *recorded.figures, recorded.covered);
    std::ostringstream left;
    left << "all bounded cells but the orbits of";
    for (std::uint32_t beyond : recorded.leftOut) {
        char cell[16];
        std::snprintf(cell, sizeof cell, " %05X", static_cast<unsigned>(beyond));
        left << cell;
    }
    out.summary = left.str() + " (cells named by the planes they lie beyond): " + out.summary;
    return out;
}

namespace {

// The cells that a face of the diagram decides: the cells against its pieces on its inner side
// belong to the solid, those on its outer side do not (the reverse for a face towards the
// centre). Empty when the hint is no face of the diagram.
std::vector<signed char> hintCells(const Arrangement& arr, const FaceHint& hint)
{
    std::vector<int> corners;
    std::uint32_t planes = ~0u;
    for (Vec3 p : hint.corners) {
        int found = -1;
        for (std::size_t v = 0; v < arr.vertices.size(); ++v)
            if (length(arr.vertices[v] - p) < 1e-3L) found = static_cast<int>(v);
        if (found < 0) return {};
        corners.push_back(found);
        planes &= arr.through[found];
    }
    if (planes == 0 || (planes & (planes - 1)) != 0) return {};
    int plane = 0;
    while (!(planes >> plane & 1u)) ++plane;
    const Vec3 n = arr.normals[plane];
    auto inside = [&](Vec3 p) {
        int side = 0;
        for (std::size_t i = 0; i < corners.size(); ++i) {
            const Vec3 a = arr.vertices[corners[i]], b = arr.vertices[corners[(i + 1) % corners.size()]];
            const real turn = dot(n, cross(b - a, p - a));
            const int s = turn > 1e-9L ? 1 : turn < -1e-9L ? -1 : 0;
            if (s == 0 || (side != 0 && s != side)) return false;
            side = s;
        }
        return true;
    };
    std::vector<signed char> required(arr.cells.size(), -1);
    for (std::size_t c = 0; c < arr.cells.size(); ++c) {
        const Cell& cell = arr.cells[c];
        if (cell.beyond >> plane & 1u) continue;
        for (const Facet& f : cell.facets) {
            if (f.plane != plane) continue;
            Vec3 centre;
            for (int v : f.corners) centre = centre + arr.vertices[v];
            if (!inside((1.0L / f.corners.size()) * centre)) continue;
            required[c] = hint.towardCentre ? 0 : 1;
            const auto beyond = arr.cellOf.find(cell.beyond | (1u << plane));
            if (beyond != arr.cellOf.end()) required[beyond->second] = hint.towardCentre ? 1 : 0;
            else if (hint.towardCentre) return {};
        }
    }
    return required;
}

} // namespace

bool searchSolid(const Arrangement& arr, const std::vector<Symmetry>& symmetries, const SolidFigures& figures,
                 const std::vector<int>& orders)
{
    RadiusCounts wanted;
    for (const PointClass& c : figures.pointClasses) wanted[std::lround(c.radius * 10000)] = c.count;
    std::map<int, int> kinds;
    for (const FaceClass& r : figures.faceClasses) kinds[r.corners] += r.count;
    const std::vector<Subgroup> subgroups = rotationSubgroups(symmetries);
    bool found = false;
    std::set<std::vector<char>> solids;  // distinct solids in place that meet every figure

    // One search: the unions of the group's cell orbits with the published points; of those with
    // the published face kinds, the ones whose concave faces are as published are matches.
    auto searchGroup = [&](const Subgroup& group, const std::vector<signed char>& required, const std::string& label,
                           bool inPlace) {
        const auto started = std::chrono::steady_clock::now();
        std::map<std::string, int> tally;
        std::vector<std::vector<char>> matches, nearMisses;
        const SearchStats stats = searchUnions(arr, symmetries, group, wanted, [&](const std::vector<char>& cells) {
            const Surface surface = unionSurface(arr, cells);
            std::map<int, int> got;
            int inward = 0;
            for (const Face& f : surface.faces) {
                got[static_cast<int>(f.corners.size())]++;
                inward += f.towardCentre;
            }
            if (got != kinds || !surface.problem.empty()) return;
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
            key << inward << " faces facing the centre, "
                << (shapes ? "concave faces as published" : "some face not as published");
            tally[key.str()]++;
            (shapes ? matches : nearMisses).push_back(cells);
        }, required);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("%s search, %s: %lld nodes, %lld unions with the published points, %.1f s\n", figures.name.c_str(),
                    label.c_str(), stats.nodes, stats.leaves, seconds);
        for (const auto& t : tally) std::printf("  %d with the published face kinds: %s\n", t.second, t.first.c_str());
        auto report = [&](const std::vector<char>& cells, bool match) {
            int kept = 0;
            for (char c : cells) kept += c;
            std::printf("  %s: %d cells, symmetry %s\n", match ? "candidate" : "closest", kept,
                        groupName(symmetries, stabiliser(symmetries, cells)).c_str());
            // Every placement by a symmetry of the planes (only the identity for a search in
            // place) that meets all figures, the published rows included; else the fewest misses.
            std::set<std::vector<char>> placements;
            std::vector<std::string> fewest;
            bool any = false;
            for (const Symmetry& s : symmetries) {
                if (inPlace && &s != &symmetries[0]) break;
                std::vector<char> placed(cells.size(), 0);
                for (std::size_t c = 0; c < cells.size(); ++c) placed[s.cellImage[c]] = cells[c];
                if (placements.count(placed)) continue;
                placements.insert(placed);
                // Where the visible pieces miss a figure, covers of them may still meet it.
                bool covered = false;
                DerivedSolid derived = deriveCells(arr, symmetries, placed, figures, false);
                if (!derived.misses.empty()) {
                    DerivedSolid cover = deriveCells(arr, symmetries, placed, figures, true);
                    for (const std::string& line : cover.covers) std::printf("    covers: %s\n", line.c_str());
                    if (cover.misses.empty() || cover.misses.size() < derived.misses.size()) {
                        derived = std::move(cover);
                        covered = true;
                    }
                }
                if (derived.misses.empty()) {
                    found = any = true;
                    solids.insert(placed);
                    std::printf("    meets every figure when placed by a %s\n", s.proper ? "rotation" : "reflection");
                    RecordedSolid record = recordCells(arr, symmetries, placed, figures);
                    record.covered = covered;
                    printRecord(record);
                } else if (!any && (fewest.empty() || derived.misses.size() < fewest.size())) {
                    fewest = derived.misses;
                }
            }
            if (!any)
                for (const std::string& m : fewest) std::printf("    misses: %s\n", m.c_str());
        };
        for (const auto& cells : matches) report(cells, true);
        if (matches.empty())
            for (const auto& cells : nearMisses) report(cells, false);
    };

    for (int order : orders) {
        if (figures.firstFaceHints.empty()) {
            // Up to a symmetry of the planes one subgroup of each order stands for all.
            for (const Subgroup& g : subgroups)
                if (g.order() == order) {
                    searchGroup(g, {}, "rotations of order " + std::to_string(order) + " (" + subgroupName(symmetries, g) + ")", false);
                    break;
                }
            continue;
        }
        // The first face is fixed in place: every subgroup of the order, for each candidate.
        int index = 0;
        for (const Subgroup& g : subgroups) {
            if (g.order() != order) continue;
            ++index;
            for (std::size_t h = 0; h < figures.firstFaceHints.size(); ++h) {
                const std::vector<signed char> required = hintCells(arr, figures.firstFaceHints[h]);
                if (required.empty()) continue;
                bool consistent = true;
                for (const auto& orbit : cellOrbits(symmetries, g, static_cast<int>(arr.cells.size()))) {
                    int in = 0, out = 0;
                    for (int c : orbit) {
                        in += required[c] == 1;
                        out += required[c] == 0;
                    }
                    if (in && out) consistent = false;
                }
                std::string label = subgroupName(symmetries, g) + " number " + std::to_string(index) + ", first face " +
                                    (figures.firstFaceHints[h].towardCentre ? "towards the centre" : "outward");
                if (!consistent) {
                    std::printf("%s search, %s: the first face cannot keep this symmetry\n", figures.name.c_str(), label.c_str());
                    continue;
                }
                searchGroup(g, required, label, true);
            }
        }
    }
    std::printf("%s: %zu distinct solid%s in place meet%s every figure\n", figures.name.c_str(), solids.size(),
                solids.size() == 1 ? "" : "s", solids.size() == 1 ? "s" : "");
    return found;
}

} // namespace stellation
