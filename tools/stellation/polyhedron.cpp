#include "polyhedron.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <set>
#include <sstream>

namespace stellation {

namespace {

constexpr real published = 6e-4L;  // the published rows carry 3 to 4 decimals

// The published rows of these two solids are their first two points, in order.
Vec3 publishedPoint(const SolidFigures& figures, int row)
{
    const geometry::Vec3<double> p = figures.telling.at(row).position;
    return {p.x, p.y, p.z};
}

real twiceArea(Vec3 a, Vec3 b, Vec3 c, Vec3 outward) { return dot(outward, cross(b - a, c - a)); }

std::string str(const char* what, long long a, long long b)
{
    std::ostringstream s;
    s << what << ": " << a << " instead of " << b;
    return s.str();
}

// Reading order of faces within a class: from the top (largest z) down, then by azimuth.
std::pair<long long, real> readingKey(const std::vector<Vec3>& corners)
{
    Vec3 c;
    for (Vec3 p : corners) c = c + p;
    c = (1.0L / corners.size()) * c;
    return {-std::llround(c.z * 1e6L), std::atan2(c.y, c.x)};
}

} // namespace

bool xOrder(Vec3 p, Vec3 q)
{
    const real keys[3][2] = {{p.x, q.x}, {-p.y, -q.y}, {-p.z, -q.z}};
    for (const auto& k : keys)
        if (std::fabs(k[0] - k[1]) > 1e-9L) return k[0] < k[1];
    return false;
}

std::vector<PlacedFace> placeFaces(const Surface& surface, const Symmetry& s, const Arrangement& arr)
{
    (void)arr;
    std::vector<PlacedFace> out;
    for (const Face& f : surface.faces) {
        PlacedFace p{s.planeImage[f.plane], f.towardCentre, {}};
        for (int v : f.corners) p.corners.push_back(s.vertexImage[v]);
        // A reflection turns counter-clockwise into clockwise.
        if (!s.proper) std::reverse(p.corners.begin(), p.corners.end());
        out.push_back(std::move(p));
    }
    return out;
}

FanReport fanFrom(const std::vector<Vec3>& corners, Vec3 outward)
{
    // Clockwise from outside: the triangle (p0, p[j], p[j+1]) faces outward when
    // (p[j+1] - p0) x (p[j] - p0) points along `outward`.
    FanReport report{true, 0};
    const std::size_t k = corners.size();
    real fan = 0, polygon = 0;
    for (std::size_t j = 1; j + 1 < k; ++j) {
        const real a = twiceArea(corners[0], corners[j + 1], corners[j], outward);
        fan += std::fabs(a);
        if (std::fabs(a) < 1e-9L) {
            // The builder takes the face's normal from its first three points.
            if (j == 1) report.covers = false;
            ++report.zeroArea;
            if (dot(corners[j] - corners[0], corners[j + 1] - corners[0]) <= 0) report.covers = false;
        } else if (a < 0) {
            report.covers = false;
        }
    }
    for (std::size_t j = 0; j < k; ++j) polygon += dot(outward, cross(corners[(j + 1) % k], corners[j]));
    if (std::fabs(fan - polygon) > 1e-9L) report.covers = false;
    return report;
}

int reflexCorners(const std::vector<Vec3>& corners, Vec3 outward)
{
    const std::size_t k = corners.size();
    int reflex = 0;
    for (std::size_t j = 0; j < k; ++j) {
        const Vec3 a = corners[(j + k - 1) % k], b = corners[j], c = corners[(j + 1) % k];
        // Clockwise from outside, a convex corner turns right.
        if (dot(outward, cross(b - a, c - b)) > 1e-9L) ++reflex;
    }
    return reflex;
}

Polyhedron numberSolid(const Arrangement& arr, const std::vector<PlacedFace>& placed,
                       const std::vector<int>& faceRun, const SolidFigures& figures, std::string& problem)
{
    // Table order within a face: clockwise from outside.
    struct Entry {
        std::vector<int> cw;  // vertex ids
        Vec3 outward;
        int run;
    };
    std::vector<Entry> faces;
    std::set<int> used;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        Entry e{placed[i].corners, arr.normals[placed[i].plane], faceRun[i]};
        if (placed[i].towardCentre) e.outward = -e.outward;
        std::reverse(e.cw.begin(), e.cw.end());
        used.insert(e.cw.begin(), e.cw.end());
        faces.push_back(std::move(e));
    }
    std::vector<int> sorted(used.begin(), used.end());
    std::sort(sorted.begin(), sorted.end(), [&](int p, int q) { return xOrder(arr.vertices[p], arr.vertices[q]); });
    // Points of equal x may stand in either order.
    auto atRank = [&](std::size_t rank, Vec3 p) {
        for (int v : sorted)
            if (rank < sorted.size() && std::fabs(arr.vertices[v].x - arr.vertices[sorted[rank]].x) < 1e-9L &&
                length(arr.vertices[v] - p) < published)
                return v;
        return -1;
    };
    const int first = atRank(0, publishedPoint(figures, 0)), second = atRank(1, publishedPoint(figures, 1));
    if (first < 0 || second < 0) {
        problem = "the published first two points are not the two of smallest x";
        return {};
    }
    auto rule = [&](int corners) -> const ConcaveRule* {
        for (const ConcaveRule& r : figures.concave)
            if (r.corners == corners) return &r;
        return nullptr;
    };
    auto points = [&](const std::vector<int>& ids) {
        std::vector<Vec3> p;
        for (int v : ids) p.push_back(arr.vertices[v]);
        return p;
    };
    // Starts from which the fan covers the face with the wanted number of zero-area triangles.
    auto goodStarts = [&](const Entry& e) {
        std::vector<int> starts;
        const ConcaveRule* r = rule(static_cast<int>(e.cw.size()));
        for (std::size_t s = 0; s < e.cw.size(); ++s) {
            std::vector<int> turned(e.cw.begin() + s, e.cw.end());
            turned.insert(turned.end(), e.cw.begin(), e.cw.begin() + s);
            const FanReport fan = fanFrom(points(turned), e.outward);
            if (fan.covers && fan.zeroArea == (r ? r->zeroAreaTriangles : 0)) starts.push_back(static_cast<int>(s));
        }
        return starts;
    };
    auto rotate = [](std::vector<int> v, int s) {
        std::rotate(v.begin(), v.begin() + s, v.end());
        return v;
    };

    // Faces of each run in reading order.
    std::vector<std::vector<int>> runFaces(figures.faceClasses.size());
    for (std::size_t i = 0; i < faces.size(); ++i) runFaces[faces[i].run].push_back(static_cast<int>(i));
    for (auto& list : runFaces)
        std::stable_sort(list.begin(), list.end(), [&](int a, int b) {
            return readingKey(points(faces[a].cw)) < readingKey(points(faces[b].cw));
        });

    // The first face: a face of run 0 whose corners, from a good start, have the x of the points
    // that the published row numbers (points of equal x are interchangeable here).
    const std::vector<int>& row = figures.firstFace;
    int chosen = -1, chosenStart = -1;
    for (int f : runFaces[0]) {
        if (faces[f].cw.size() != row.size()) continue;
        for (int s : goodStarts(faces[f])) {
            const std::vector<int> turned = rotate(faces[f].cw, s);
            bool fits = true;
            for (std::size_t j = 0; j < row.size(); ++j)
                if (row[j] >= static_cast<int>(sorted.size()) ||
                    std::fabs(arr.vertices[turned[j]].x - arr.vertices[sorted[row[j]]].x) > 1e-9L)
                    fits = false;
            if (!fits) continue;
            if (chosen >= 0) {
                problem = "more than one face fits the published first face";
                return {};
            }
            chosen = f;
            chosenStart = s;
        }
    }
    if (chosen < 0) {
        problem = "no face of the first class fits the published first face";
        return {};
    }
    std::rotate(runFaces[0].begin(), std::find(runFaces[0].begin(), runFaces[0].end(), chosen),
                std::find(runFaces[0].begin(), runFaces[0].end(), chosen) + 1);
    faces[chosen].cw = rotate(faces[chosen].cw, chosenStart);

    // Point numbers: by x ascending (the published rows number the points that way), equal x by
    // y descending, then z descending; where the published first face decides a tie otherwise,
    // its numbers stand and the other points of the tie fill the numbers left.
    std::map<int, int> number;
    number[first] = 0;
    number[second] = 1;
    for (std::size_t j = 0; j < row.size(); ++j) number[faces[chosen].cw[j]] = row[j];
    std::set<int> taken;
    for (const auto& n : number) taken.insert(n.second);
    std::vector<int> rest;
    for (int v : sorted)
        if (!number.count(v)) rest.push_back(v);
    int next = 0;
    for (int v : rest) {
        while (taken.count(next)) ++next;
        number[v] = next++;
    }
    if (static_cast<int>(number.size()) != static_cast<int>(used.size()) || next > static_cast<int>(used.size())) {
        problem = "the published point numbers exceed the point count";
        return {};
    }

    Polyhedron out;
    out.points.resize(used.size());
    for (const auto& n : number) out.points[n.second] = arr.vertices[n.first];
    for (std::size_t r = 0; r < runFaces.size(); ++r) {
        for (int f : runFaces[r]) {
            std::vector<int> cw = faces[f].cw;
            if (f != chosen) {
                // Start at the lowest-numbered good start.
                int best = -1;
                for (int s : goodStarts(faces[f]))
                    if (best < 0 || number[cw[s]] < number[cw[best]]) best = s;
                if (best < 0) {
                    problem = "a face has no point from which its fan covers it as published";
                    return {};
                }
                cw = rotate(cw, best);
            }
            std::vector<int> ids;
            for (int v : cw) ids.push_back(number[v]);
            out.faces.push_back(ids);
        }
        // Colour runs: adjacent runs of one colour share one entry.
        const int count = static_cast<int>(runFaces[r].size());
        if (!out.colours.empty() && out.colours.back().second == figures.faceClasses[r].rgb)
            out.colours.back().first += count;
        else
            out.colours.push_back({count, figures.faceClasses[r].rgb});
    }
    return out;
}

std::vector<std::string> checkFigures(const Polyhedron& solid, const SolidFigures& figures,
                                      const std::vector<Vec3>& planeNormals, real planeDistance, bool edgesPaired)
{
    std::vector<std::string> misses;
    const auto& P = solid.points;
    // Point classes.
    int wantedPoints = 0;
    for (const PointClass& c : figures.pointClasses) {
        wantedPoints += c.count;
        int n = 0;
        for (Vec3 p : P) n += std::fabs(length(p) - c.radius) < 1e-4L;
        if (n != c.count) misses.push_back(str("points at the published radius", n, c.count));
    }
    if (static_cast<int>(P.size()) != wantedPoints) misses.push_back(str("points", P.size(), wantedPoints));
    for (std::size_t i = 0; i < P.size(); ++i)
        for (std::size_t j = i + 1; j < P.size(); ++j)
            if (length(P[i] - P[j]) < 1e-6L) misses.push_back("a point is repeated");
    // Face classes in table order, and the counts made from them.
    std::size_t f = 0;
    for (const FaceClass& run : figures.faceClasses)
        for (int k = 0; k < run.count; ++k, ++f)
            if (f >= solid.faces.size() || static_cast<int>(solid.faces[f].size()) != run.corners)
                misses.push_back(str("corners of a face in table order", f < solid.faces.size() ? solid.faces[f].size() : 0, run.corners));
    if (f != solid.faces.size()) misses.push_back(str("faces", solid.faces.size(), f));
    int entries = 0, vertices = 0, elements = 0;
    for (const auto& face : solid.faces) {
        entries += static_cast<int>(face.size()) + 1;
        vertices += static_cast<int>(face.size());
        elements += 3 * (static_cast<int>(face.size()) - 2);
    }
    if (entries != figures.indexEntries) misses.push_back(str("indices entries", entries, figures.indexEntries));
    if (vertices != figures.verticesMade) misses.push_back(str("vertices made", vertices, figures.verticesMade));
    if (elements != figures.elementsMade) misses.push_back(str("elements made", elements, figures.elementsMade));
    real outer = 0;
    for (Vec3 p : P) outer = std::max(outer, length(p));
    if (std::fabs(outer - figures.outerRadius) > 1e-4L) misses.push_back("the outer radius differs");
    // Telling rows.
    if (P.size() < 2 || length(P[0] - publishedPoint(figures, 0)) > published ||
        length(P[1] - publishedPoint(figures, 1)) > published)
        misses.push_back("the first two points differ from the published row");
    if (solid.faces.empty() || solid.faces[0] != figures.firstFace)
        misses.push_back("the first face differs from the published row");

    // Geometry of every face.
    for (const auto& face : solid.faces) {
        std::vector<Vec3> c;
        for (int i : face) c.push_back(P[i]);
        Vec3 newell;
        for (std::size_t j = 0; j < c.size(); ++j) newell = newell + cross(c[j], c[(j + 1) % c.size()]);
        const Vec3 outward = -normalize(newell);  // clockwise from outside
        int plane = -1;
        for (std::size_t i = 0; i < planeNormals.size(); ++i)
            for (real sign : {1.0L, -1.0L}) {
                bool inPlane = true;
                for (Vec3 p : c) inPlane &= std::fabs(dot(planeNormals[i], p) - planeDistance) < 1e-9L;
                if (inPlane && length(sign * planeNormals[i] - outward) < 1e-6L) plane = static_cast<int>(i);
            }
        if (plane < 0) {
            misses.push_back("a face lies in none of the planes");
            continue;
        }
        const int reflex = reflexCorners(c, outward);
        const FanReport fan = fanFrom(c, outward);
        const ConcaveRule* rule = nullptr;
        for (const ConcaveRule& r : figures.concave)
            if (r.corners == static_cast<int>(c.size())) rule = &r;
        if (!fan.covers) misses.push_back("a face is not covered by the fan around its first point");
        if (reflex != (rule ? rule->reflex : 0))
            misses.push_back(str("reflex corners of a face", reflex, rule ? rule->reflex : 0));
        if (fan.zeroArea != (rule ? rule->zeroAreaTriangles : 0))
            misses.push_back(str("zero-area fan triangles of a face", fan.zeroArea, rule ? rule->zeroAreaTriangles : 0));
    }
    // A closed surface: every directed edge of the fan triangles is met once each way.
    std::map<std::pair<int, int>, int> edges;
    real volume = 0;
    for (const auto& face : solid.faces)
        for (std::size_t j = 1; j + 1 < face.size(); ++j) {
            // The builder's triangle (first, j + 1, j) is counter-clockwise from outside.
            const int t[3] = {face[0], face[j + 1], face[j]};
            for (int e = 0; e < 3; ++e) edges[{t[e], t[(e + 1) % 3]}]++;
            volume += dot(P[t[0]], cross(P[t[1]], P[t[2]])) / 6;
        }
    for (const auto& e : edges)
        if (edgesPaired && (e.second != 1 || edges.count({e.first.second, e.first.first}) == 0 ||
                            edges.at({e.first.second, e.first.first}) != 1)) {
            misses.push_back("the surface is not closed");
            break;
        }
    if (volume <= 0) misses.push_back("the faces do not turn outward");
    if (figures.oppositeFreeRadius > 0)
        for (Vec3 p : P)
            if (std::fabs(length(p) - figures.oppositeFreeRadius) < 1e-4L)
                for (Vec3 q : P)
                    if (length(p + q) < 1e-6L) misses.push_back("a point has its opposite in the table");
    // No symmetry among the coordinate planes, axes and origin.
    std::set<std::vector<long long>> pointSet;
    auto key = [](Vec3 p) {
        return std::vector<long long>{std::llround(p.x * 1e6L), std::llround(p.y * 1e6L), std::llround(p.z * 1e6L)};
    };
    for (Vec3 p : P) pointSet.insert(key(p));
    std::set<std::multiset<std::vector<long long>>> faceSet;
    for (const auto& face : solid.faces) {
        std::multiset<std::vector<long long>> s;
        for (int i : face) s.insert(key(P[i]));
        faceSet.insert(s);
    }
    const struct {
        const char* name;
        real sx, sy, sz;
    } maps[] = {{"a mirror plane x = 0", -1, 1, 1}, {"a mirror plane y = 0", 1, -1, 1}, {"a mirror plane z = 0", 1, 1, -1},
                {"a half-turn about x", 1, -1, -1},  {"a half-turn about y", -1, 1, -1},  {"a half-turn about z", -1, -1, 1},
                {"a centre of inversion", -1, -1, -1}};
    for (const auto& m : maps) {
        bool symmetric = true;
        for (const auto& face : faceSet) {
            std::multiset<std::vector<long long>> image;
            for (const auto& k : face) image.insert(key({m.sx * k[0] / 1e6L, m.sy * k[1] / 1e6L, m.sz * k[2] / 1e6L}));
            if (!faceSet.count(image)) {
                symmetric = false;
                break;
            }
        }
        if (symmetric) misses.push_back(std::string("the solid has ") + m.name);
    }
    return misses;
}

} // namespace stellation
