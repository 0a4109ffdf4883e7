#include "cover.h"

#include "polyhedron.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <tuple>
#include <sstream>

namespace stellation {

namespace {

// Coordinates within a plane: e1, e2 and the normal form a right-handed frame, so that
// counter-clockwise in these coordinates is counter-clockwise seen from the normal's side.
struct Frame {
    Vec3 normal, e1, e2;

    explicit Frame(Vec3 n) : normal(n)
    {
        const Vec3 helper = std::fabs(n.x) < 0.9L ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
        e1 = normalize(cross(helper, n));
        e2 = cross(n, e1);
    }
    void project(Vec3 p, real& u, real& v) const
    {
        u = dot(p, e1);
        v = dot(p, e2);
    }
};

struct Point2 {
    real u = 0, v = 0;
};

real orient(Point2 a, Point2 b, Point2 c) { return (b.u - a.u) * (c.v - a.v) - (b.v - a.v) * (c.u - a.u); }

bool onSegment(Point2 a, Point2 b, Point2 p)
{
    return std::min(a.u, b.u) - 1e-12L <= p.u && p.u <= std::max(a.u, b.u) + 1e-12L &&
           std::min(a.v, b.v) - 1e-12L <= p.v && p.v <= std::max(a.v, b.v) + 1e-12L;
}

// Whether two segments share any point, touching included.
bool segmentsMeet(Point2 a, Point2 b, Point2 c, Point2 d)
{
    const real o1 = orient(a, b, c), o2 = orient(a, b, d), o3 = orient(c, d, a), o4 = orient(c, d, b);
    auto sign = [](real x) { return x > 1e-12L ? 1 : x < -1e-12L ? -1 : 0; };
    const int s1 = sign(o1), s2 = sign(o2), s3 = sign(o3), s4 = sign(o4);
    if (s1 * s2 < 0 && s3 * s4 < 0) return true;
    return (s1 == 0 && onSegment(a, b, c)) || (s2 == 0 && onSegment(a, b, d)) || (s3 == 0 && onSegment(c, d, a)) ||
           (s4 == 0 && onSegment(c, d, b));
}

bool insidePolygon(const std::vector<Point2>& poly, Point2 p)
{
    bool in = false;
    for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
        if ((poly[i].v > p.v) != (poly[j].v > p.v) &&
            p.u < (poly[j].u - poly[i].u) * (p.v - poly[i].v) / (poly[j].v - poly[i].v) + poly[i].u)
            in = !in;
    return in;
}

real signedArea(const std::vector<Point2>& poly)
{
    real a = 0;
    for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) a += poly[j].u * poly[i].v - poly[i].u * poly[j].v;
    return a / 2;
}

const ConcaveRule* ruleFor(const std::vector<ConcaveRule>& concave, int corners)
{
    for (const ConcaveRule& r : concave)
        if (r.corners == corners) return &r;
    return nullptr;
}

// The concave rules and the fan rule of a polygon given counter-clockwise from its visible
// side: its reflex corners as published, and some corner from which the fan covers it with
// the published number of zero-area triangles.
bool takesPublishedShape(const Arrangement& arr, const std::vector<int>& ccw, Vec3 seenFrom,
                         const std::vector<ConcaveRule>& concave)
{
    std::vector<Vec3> cw;
    for (auto it = ccw.rbegin(); it != ccw.rend(); ++it) cw.push_back(arr.vertices[*it]);
    const ConcaveRule* rule = ruleFor(concave, static_cast<int>(cw.size()));
    if (reflexCorners(cw, seenFrom) != (rule ? rule->reflex : 0)) return false;
    for (std::size_t s = 0; s < cw.size(); ++s) {
        const FanReport fan = fanFrom(cw, seenFrom);
        if (fan.covers && fan.zeroArea == (rule ? rule->zeroAreaTriangles : 0)) return true;
        std::rotate(cw.begin(), cw.begin() + 1, cw.end());
    }
    return false;
}

std::vector<int> canonical(std::vector<int> cycle)
{
    std::rotate(cycle.begin(), std::min_element(cycle.begin(), cycle.end()), cycle.end());
    return cycle;
}

using PointSet = std::vector<std::uint64_t>;

void insertPoint(PointSet& set, int v) { set[v / 64] |= std::uint64_t(1) << (v % 64); }

} // namespace

PlaneRegions planeRegions(const Arrangement& arr, const std::vector<char>& inSolid, int plane)
{
    PlaneRegions out;
    out.plane = plane;
    const std::uint32_t bit = 1u << plane;
    std::set<std::uint32_t> seen;
    for (const Cell& cell : arr.cells)
        for (const Facet& f : cell.facets) {
            if (f.plane != plane) continue;
            const std::uint32_t near = cell.beyond & ~bit;
            if (!seen.insert(near).second) continue;
            auto in = [&](std::uint32_t beyond) {
                const auto c = arr.cellOf.find(beyond);
                return c != arr.cellOf.end() && inSolid[c->second];
            };
            const bool inNear = in(near), inFar = in(near | bit);
            out.kind.push_back(inNear && inFar   ? PlaneRegions::hidden
                               : inNear          ? PlaneRegions::outward
                               : inFar           ? PlaneRegions::inward
                                                 : PlaneRegions::empty);
            Vec3 centre, twiceArea;
            for (std::size_t i = 0; i < f.corners.size(); ++i) {
                centre = centre + arr.vertices[f.corners[i]];
                twiceArea = twiceArea + cross(arr.vertices[f.corners[i]], arr.vertices[f.corners[(i + 1) % f.corners.size()]]);
            }
            out.inner.push_back((1.0L / f.corners.size()) * centre);
            out.area.push_back(length(twiceArea) / 2);
        }
    return out;
}

PlaneCovers searchPlaneCovers(const Arrangement& arr, const std::vector<Symmetry>& symmetries,
                              const std::vector<char>& inSolid, int plane, const std::vector<char>& points,
                              const std::map<int, int>& kinds, const std::vector<ConcaveRule>& concave,
                              const std::vector<int>& stabiliser)
{
    PlaneCovers out;
    out.plane = plane;
    out.regions = planeRegions(arr, inSolid, plane);
    const PlaneRegions& regions = out.regions;
    const Frame frame(arr.normals[plane]);
    const std::uint32_t bit = 1u << plane;

    std::vector<int> ids;  // the surface's corners in this plane
    for (std::size_t v = 0; v < arr.vertices.size(); ++v)
        if (points[v] && (arr.through[v] & bit)) ids.push_back(static_cast<int>(v));
    const int n = static_cast<int>(ids.size());
    std::vector<Point2> at(n);
    for (int i = 0; i < n; ++i) frame.project(arr.vertices[ids[i]], at[i].u, at[i].v);
    std::vector<Point2> inner(regions.inner.size());
    for (std::size_t r = 0; r < inner.size(); ++r) frame.project(regions.inner[r], inner[r].u, inner[r].v);
    // Two corners may be joined by a side where some other plane holds them both.
    std::vector<std::vector<char>> joined(n, std::vector<char>(n, 0));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            joined[i][j] = i != j && (arr.through[ids[i]] & arr.through[ids[j]] & ~bit) != 0;

    // Every simple polygon of the wanted corner counts, each found once: its smallest corner
    // first, counter-clockwise seen from the normal's side.
    int longest = 0;
    for (const auto& k : kinds) longest = std::max(longest, k.first);
    std::vector<int> path;
    auto admit = [&](const std::vector<int>& cycle) {
        std::vector<Point2> poly;
        for (int i : cycle) poly.push_back(at[i]);
        const real area = signedArea(poly);
        if (area <= 1e-12L) return;
        real covered = 0;
        std::vector<int> inside;
        for (std::size_t r = 0; r < inner.size(); ++r)
            if (insidePolygon(poly, inner[r])) {
                inside.push_back(static_cast<int>(r));
                covered += regions.area[r];
            }
        if (std::fabs(covered - area) > 1e-9L) return;  // it spans space no bounded cell touches
        for (bool towardCentre : {false, true}) {
            const PlaneRegions::Kind seen = towardCentre ? PlaneRegions::inward : PlaneRegions::outward;
            bool allowed = true, visible = false;
            for (int r : inside) {
                allowed &= regions.kind[r] == seen || regions.kind[r] == PlaneRegions::hidden;
                visible |= regions.kind[r] == seen;
            }
            if (!allowed || !visible) continue;
            CoverFace face{plane, towardCentre, {}, inside};
            for (int i : cycle) face.corners.push_back(ids[i]);
            if (towardCentre) std::reverse(face.corners.begin(), face.corners.end());
            const Vec3 seenFrom = towardCentre ? -arr.normals[plane] : arr.normals[plane];
            if (takesPublishedShape(arr, face.corners, seenFrom, concave)) out.polygons.push_back(std::move(face));
        }
    };
    std::function<void()> extend = [&] {
        const int k = static_cast<int>(path.size());
        const int last = path.back();
        if (k >= 3 && kinds.count(k) && joined[last][path[0]]) {
            // Close: both corners at the closing side turn, and it meets no other side.
            const Point2 a = at[path[k - 2]], b = at[last], c = at[path[0]], d = at[path[1]];
            bool ok = std::fabs(orient(a, b, c)) > 1e-12L && std::fabs(orient(b, c, d)) > 1e-12L;
            for (int s = 1; s + 2 < k && ok; ++s)
                if (segmentsMeet(b, c, at[path[s]], at[path[s + 1]])) ok = false;
            if (ok) admit(path);
        }
        if (k == longest) return;
        for (int next = path[0] + 1; next < n; ++next) {
            if (!joined[last][next] || std::find(path.begin(), path.end(), next) != path.end()) continue;
            const Point2 b = at[last], c = at[next];
            if (k >= 2 && std::fabs(orient(at[path[k - 2]], b, c)) <= 1e-12L) continue;
            bool ok = true;
            for (int s = 0; s + 2 < k && ok; ++s)
                if (segmentsMeet(b, c, at[path[s]], at[path[s + 1]])) ok = false;
            if (!ok) continue;
            path.push_back(next);
            extend();
            path.pop_back();
        }
    };
    for (int s = 0; s < n; ++s) {
        path = {s};
        extend();
    }

    // Exact covers of the visible regions, by the kinds wanted.
    std::vector<int> visible;
    for (std::size_t r = 0; r < regions.kind.size(); ++r)
        if (regions.kind[r] == PlaneRegions::outward || regions.kind[r] == PlaneRegions::inward)
            visible.push_back(static_cast<int>(r));
    std::vector<std::vector<int>> coveringRegion(regions.kind.size());
    for (std::size_t p = 0; p < out.polygons.size(); ++p)
        for (int r : out.polygons[p].regions) coveringRegion[r].push_back(static_cast<int>(p));
    std::map<std::vector<int>, int> polygonByCorners;
    for (std::size_t p = 0; p < out.polygons.size(); ++p)
        polygonByCorners[canonical(out.polygons[p].corners)] = static_cast<int>(p);
    std::vector<int> cover, coveredBy(regions.kind.size(), 0);
    std::map<int, int> left = kinds;
    auto invariant = [&] {
        std::set<int> chosen(cover.begin(), cover.end());
        for (int g : stabiliser)
            for (int p : cover) {
                std::vector<int> image;
                for (int v : out.polygons[p].corners) image.push_back(symmetries[g].vertexImage[v]);
                const auto found = polygonByCorners.find(canonical(image));
                if (found == polygonByCorners.end() || !chosen.count(found->second)) return false;
            }
        return true;
    };
    std::function<void()> place = [&] {
        int open = -1;
        for (int r : visible)
            if (!coveredBy[r]) {
                open = r;
                break;
            }
        if (open < 0) {
            for (const auto& k : left)
                if (k.second != 0) return;
            if (!invariant()) return;
            real hidden = 0;
            bool overlap = false;
            std::vector<int> uses(regions.kind.size(), 0);
            for (int p : cover)
                for (int r : out.polygons[p].regions) {
                    if (regions.kind[r] == PlaneRegions::hidden) hidden += regions.area[r];
                    overlap |= ++uses[r] > 1;
                }
            out.covers.push_back(cover);
            out.hiddenArea.push_back(hidden);
            out.overlapping.push_back(overlap);
            return;
        }
        for (int p : coveringRegion[open]) {
            const CoverFace& f = out.polygons[p];
            int& budget = left[static_cast<int>(f.corners.size())];
            if (budget == 0) continue;
            bool clash = false;
            for (int r : f.regions)
                if (coveredBy[r] && regions.kind[r] != PlaneRegions::hidden) clash = true;
            if (clash) continue;
            --budget;
            cover.push_back(p);
            for (int r : f.regions) ++coveredBy[r];
            place();
            for (int r : f.regions) --coveredBy[r];
            cover.pop_back();
            ++budget;
        }
    };
    place();
    return out;
}

bool coverSolid(const Arrangement& arr, const std::vector<Symmetry>& symmetries, const std::vector<int>& rotations,
                const std::vector<char>& inSolid, const Surface& surface, const SolidFigures& figures,
                std::vector<Face>& faces, std::vector<std::string>& report)
{
    const int planeCount = static_cast<int>(arr.normals.size());
    std::vector<char> points(arr.vertices.size(), 0);
    PointSet wantedPoints((arr.vertices.size() + 63) / 64, 0);
    for (const Face& f : surface.faces)
        for (int v : f.corners) {
            points[v] = 1;
            insertPoint(wantedPoints, v);
        }

    // Plane orbits under the solid's rotations, in order of their first plane.
    std::vector<std::vector<int>> orbits;
    std::vector<int> orbitOf(planeCount, -1);
    for (int p = 0; p < planeCount; ++p) {
        if (orbitOf[p] >= 0) continue;
        std::set<int> orbit;
        for (int r : rotations) orbit.insert(symmetries[r].planeImage[p]);
        for (int q : orbit) orbitOf[q] = static_cast<int>(orbits.size());
        orbits.push_back(std::vector<int>(orbit.begin(), orbit.end()));
    }
    // The kinds of each colour: one colour takes whole orbits, each plane the same share.
    std::map<std::uint32_t, std::map<int, int>> colourKinds;
    for (const FaceClass& run : figures.faceClasses) colourKinds[run.rgb][run.corners] += run.count;
    std::vector<std::uint32_t> colours;
    for (const auto& c : colourKinds) colours.push_back(c.first);
    const int orbitCount = static_cast<int>(orbits.size());

    struct OrbitChoice {
        std::uint32_t rgb;
        PlaneCovers covers;
        std::vector<PointSet> pointsKept;  // per cover, the corners of its images over the orbit
    };
    // Keyed by orbit, colour and the kinds each plane takes (which depend on the orbits that
    // share the colour). The map's nodes stay put, so choices may point into it.
    std::map<std::tuple<int, std::uint32_t, std::map<int, int>>, OrbitChoice> cache;
    auto coversOf = [&](int o, std::uint32_t rgb, const std::map<int, int>& perPlane) -> const OrbitChoice& {
        const auto key = std::make_tuple(o, rgb, perPlane);
        const auto found = cache.find(key);
        if (found != cache.end()) return found->second;
        const int plane = orbits[o][0];
        std::vector<int> stabiliser;
        for (int r : rotations)
            if (symmetries[r].planeImage[plane] == plane && r != 0) stabiliser.push_back(r);
        OrbitChoice choice{rgb, searchPlaneCovers(arr, symmetries, inSolid, plane, points, perPlane, figures.concave, stabiliser), {}};
        for (const auto& cover : choice.covers.covers) {
            PointSet kept(wantedPoints.size(), 0);
            for (int r : rotations)
                for (int p : cover)
                    for (int v : choice.covers.polygons[p].corners) insertPoint(kept, symmetries[r].vertexImage[v]);
            choice.pointsKept.push_back(std::move(kept));
        }
        return cache.emplace(key, std::move(choice)).first->second;
    };

    // Every way of giving each orbit one colour that shares the colour's faces out evenly.
    struct Outcome {
        std::vector<const OrbitChoice*> choice;  // per orbit
        std::vector<int> cover;                  // per orbit
        real hiddenArea;
    };
    std::vector<Outcome> best;
    std::vector<std::uint32_t> assignment(orbitCount, 0);
    std::function<void(int)> assign = [&](int o) {
        if (o < orbitCount) {
            for (std::uint32_t rgb : colours) {
                assignment[o] = rgb;
                assign(o + 1);
            }
            return;
        }
        std::vector<std::map<int, int>> perPlane(orbitCount);
        for (std::uint32_t rgb : colours) {
            int planes = 0;
            for (int i = 0; i < orbitCount; ++i)
                if (assignment[i] == rgb) planes += static_cast<int>(orbits[i].size());
            if (planes == 0) return;
            std::map<int, int> share;
            for (const auto& k : colourKinds[rgb]) {
                if (k.second % planes) return;
                share[k.first] = k.second / planes;
            }
            for (int i = 0; i < orbitCount; ++i)
                if (assignment[i] == rgb) perPlane[i] = share;
        }
        std::vector<const OrbitChoice*> choices;
        for (int i = 0; i < orbitCount; ++i) {
            choices.push_back(&coversOf(i, assignment[i], perPlane[i]));
            if (choices.back()->covers.covers.empty()) return;
        }
        // The combinations that keep every corner; the rule picks among them.
        std::vector<int> index(orbitCount, 0);
        for (;;) {
            PointSet kept(wantedPoints.size(), 0);
            bool overlap = false;
            real hidden = 0;
            for (int i = 0; i < orbitCount; ++i) {
                const int c = index[i];
                for (std::size_t w = 0; w < kept.size(); ++w) kept[w] |= choices[i]->pointsKept[c][w];
                overlap |= choices[i]->covers.overlapping[c] != 0;
                hidden += choices[i]->covers.hiddenArea[c] * static_cast<real>(orbits[i].size());
            }
            if (kept == wantedPoints && !overlap) {
                Outcome o{choices, index, hidden};
                if (best.empty() || hidden < best[0].hiddenArea - 1e-9L) best = {o};
                else if (hidden < best[0].hiddenArea + 1e-9L) best.push_back(o);
            }
            int i = 0;
            while (i < orbitCount && ++index[i] == static_cast<int>(choices[i]->covers.covers.size())) index[i++] = 0;
            if (i == orbitCount) break;
        }
    };
    assign(0);

    // What each orbit's search found, beside the choice made on the others.
    for (const auto& entry : cache) {
        const int o = std::get<0>(entry.first);
        const OrbitChoice& choice = entry.second;
        const PlaneCovers& pc = choice.covers;
        int counts[4] = {};
        for (auto k : pc.regions.kind) ++counts[k];
        std::ostringstream line;
        char rgb[16];
        std::snprintf(rgb, sizeof rgb, "%06X", static_cast<unsigned>(choice.rgb));
        int inPlane = 0;
        for (std::size_t v = 0; v < arr.vertices.size(); ++v) inPlane += points[v] && (arr.through[v] >> pc.plane & 1u);
        line << "planes of plane " << pc.plane << " (" << orbits[o].size() << ") as " << rgb << ": " << inPlane
             << " points, " << pc.regions.kind.size() << " regions (" << counts[PlaneRegions::outward] << " seen from outside, "
             << counts[PlaneRegions::inward] << " from the centre's side, " << counts[PlaneRegions::hidden] << " hidden, "
             << counts[PlaneRegions::empty] << " empty), " << pc.polygons.size() << " polygons, " << pc.covers.size()
             << " covers";
        if (!pc.covers.empty() && best.size() == 1 && best[0].choice[o] == &choice) {
            // Counted with the other orbits as chosen.
            int keeping = 0, clean = 0, least = 0;
            real leastArea = 1e30L;
            for (std::size_t c = 0; c < pc.covers.size(); ++c) {
                PointSet kept = choice.pointsKept[c];
                for (int i = 0; i < orbitCount; ++i)
                    if (i != o)
                        for (std::size_t w = 0; w < kept.size(); ++w)
                            kept[w] |= best[0].choice[i]->pointsKept[best[0].cover[i]][w];
                if (kept != wantedPoints) continue;
                ++keeping;
                clean += !pc.overlapping[c];
                if (pc.hiddenArea[c] < leastArea - 1e-9L) {
                    leastArea = pc.hiddenArea[c];
                    least = 1;
                } else if (pc.hiddenArea[c] < leastArea + 1e-9L) {
                    ++least;
                }
            }
            char area[32];
            std::snprintf(area, sizeof area, "%.4Lf", leastArea);
            line << ", " << keeping << " keeping every point, " << clean << " of them without overlapping faces; least hidden area "
                 << area << " (" << least << " cover" << (least == 1 ? "" : "s") << "), chosen hidden area ";
            std::snprintf(area, sizeof area, "%.4Lf", pc.hiddenArea[best[0].cover[o]]);
            line << area;
        }
        report.push_back(line.str());
    }
    if (best.size() != 1) {
        report.push_back(best.empty() ? "no covers keep every point without overlapping faces"
                                      : std::to_string(best.size()) + " choices tie for the least hidden area");
        return false;
    }

    faces.clear();
    for (int o = 0; o < orbitCount; ++o) {
        const OrbitChoice& choice = *best[0].choice[o];
        const int plane = orbits[o][0];
        for (int q : orbits[o]) {
            int r = -1;
            for (int s : rotations)
                if (symmetries[s].planeImage[plane] == q) {
                    r = s;
                    break;
                }
            for (int p : choice.covers.covers[best[0].cover[o]]) {
                const CoverFace& f = choice.covers.polygons[p];
                Face face;
                face.plane = q;
                face.towardCentre = f.towardCentre;
                for (int v : f.corners) face.corners.push_back(symmetries[r].vertexImage[v]);
                face.boundary = face.corners;
                face.rgb = choice.rgb;
                faces.push_back(std::move(face));
            }
        }
    }
    return true;
}

std::vector<std::string> checkCoverage(const Arrangement& arr, const std::vector<char>& inSolid,
                                       const std::vector<Vec3>& points, const std::vector<std::vector<int>>& faces)
{
    std::vector<std::string> problems;
    const int planeCount = static_cast<int>(arr.normals.size());
    std::vector<PlaneRegions> regions;
    std::vector<std::vector<int>> outwardUses(planeCount), inwardUses(planeCount);
    for (int p = 0; p < planeCount; ++p) {
        regions.push_back(planeRegions(arr, inSolid, p));
        outwardUses[p].assign(regions[p].kind.size(), 0);
        inwardUses[p].assign(regions[p].kind.size(), 0);
    }
    for (std::size_t f = 0; f < faces.size(); ++f) {
        const std::string name = "face " + std::to_string(f);
        int plane = -1;
        for (int p = 0; p < planeCount; ++p) {
            bool on = true;
            for (int i : faces[f]) on &= std::fabs(dot(arr.normals[p], points[i]) - arr.distance) < epsilon;
            if (on) plane = p;
        }
        if (plane < 0) {
            problems.push_back(name + " lies in none of the planes");
            continue;
        }
        const Frame frame(arr.normals[plane]);
        std::vector<Point2> poly;
        for (int i : faces[f]) {
            poly.push_back({});
            frame.project(points[i], poly.back().u, poly.back().v);
        }
        // Clockwise seen from outside: positive area seen from the normal's side means the face
        // looks towards the centre.
        const real area = signedArea(poly);
        const bool towardCentre = area > 0;
        real covered = 0;
        const PlaneRegions& r = regions[plane];
        for (std::size_t k = 0; k < r.kind.size(); ++k) {
            Point2 q;
            frame.project(r.inner[k], q.u, q.v);
            if (!insidePolygon(poly, q)) continue;
            covered += r.area[k];
            ++(towardCentre ? inwardUses : outwardUses)[plane][k];
        }
        if (std::fabs(covered - std::fabs(area)) > 1e-9L) problems.push_back(name + " spans space that no cell touches");
    }
    for (int p = 0; p < planeCount; ++p)
        for (std::size_t k = 0; k < regions[p].kind.size(); ++k) {
            const PlaneRegions::Kind kind = regions[p].kind[k];
            const int out = outwardUses[p][k], in = inwardUses[p][k];
            const bool ok = kind == PlaneRegions::outward ? out == 1 && in == 0
                            : kind == PlaneRegions::inward ? in == 1 && out == 0
                            : kind == PlaneRegions::empty  ? in == 0 && out == 0
                                                           : true;
            if (!ok)
                problems.push_back("plane " + std::to_string(p) + " region " + std::to_string(k) + " covered " +
                                   std::to_string(out) + " times from outside and " + std::to_string(in) +
                                   " times from the centre's side");
        }
    return problems;
}

} // namespace stellation
