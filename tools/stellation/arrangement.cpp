#include "arrangement.h"

#include <algorithm>
#include <array>
#include <deque>
#include <stdexcept>

namespace stellation {

namespace {

constexpr real pi = 3.141592653589793238462643383279502884L;

// Candidate corner of a cell clipped to a large box: which planes it lies on and beyond.
struct Candidate {
    Vec3 p;
    std::uint32_t on = 0;
    std::uint32_t beyond = 0;
    bool onBox = false;
};

struct Plane {
    Vec3 n;
    real d;
};

bool solve3(const Plane& a, const Plane& b, const Plane& c, Vec3& out)
{
    const Vec3 bc = cross(b.n, c.n);
    const real det = dot(a.n, bc);
    if (std::fabs(det) < 1e-12L) return false;
    out = (1 / det) * (a.d * bc + b.d * cross(c.n, a.n) + c.d * cross(a.n, b.n));
    return true;
}

// Corners of a convex polygon lying in the plane with unit normal `outward`, sorted
// counter-clockwise as seen from the side `outward` points to.
std::vector<int> sortAround(std::vector<int> ids, const std::vector<Vec3>& points, Vec3 outward)
{
    Vec3 c;
    for (int id : ids) c = c + points[id];
    c = (1.0L / ids.size()) * c;
    const Vec3 e1 = normalize(points[ids[0]] - c);
    const Vec3 e2 = cross(outward, e1);
    std::vector<std::pair<real, int>> keyed;
    for (int id : ids) {
        const Vec3 r = points[id] - c;
        keyed.push_back({std::atan2(dot(r, e2), dot(r, e1)), id});
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<int> sorted;
    for (const auto& k : keyed) sorted.push_back(k.second);
    return sorted;
}

bool spansPlane(const std::vector<int>& ids, const std::vector<Vec3>& points)
{
    if (ids.size() < 3) return false;
    const Vec3 a = points[ids[0]];
    Vec3 far = points[ids[1]];
    for (int id : ids)
        if (length(points[id] - a) > length(far - a)) far = points[id];
    for (int id : ids)
        if (length(cross(far - a, points[id] - a)) > 1e-7L) return true;
    return false;
}

} // namespace

std::vector<Vec3> icosahedronFaceNormals()
{
    const real h = 1 / std::sqrt(5.0L);
    const real r = 2 / std::sqrt(5.0L);
    std::array<Vec3, 5> upper, lower;
    for (int k = 0; k < 5; ++k) {
        const real a = 2 * pi * k / 5, b = a + pi / 5;
        upper[k] = {r * std::cos(a), r * std::sin(a), h};
        lower[k] = {r * std::cos(b), r * std::sin(b), -h};
    }
    const Vec3 top{0, 0, 1}, bottom{0, 0, -1};
    std::vector<Vec3> normals;
    for (int k = 0; k < 5; ++k) normals.push_back(normalize(top + upper[k] + upper[(k + 1) % 5]));
    for (int k = 0; k < 5; ++k) {
        normals.push_back(normalize(upper[k] + upper[(k + 1) % 5] + lower[k]));
        normals.push_back(normalize(lower[k] + lower[(k + 1) % 5] + upper[(k + 1) % 5]));
    }
    for (int k = 0; k < 5; ++k) normals.push_back(normalize(bottom + lower[k] + lower[(k + 1) % 5]));
    return normals;
}

int Arrangement::findVertex(Vec3 p) const
{
    for (std::size_t i = 0; i < vertices.size(); ++i)
        if (near(vertices[i], p)) return static_cast<int>(i);
    return -1;
}

Arrangement buildArrangement(const std::vector<Vec3>& normals, real distance)
{
    Arrangement arr;
    arr.normals = normals;
    arr.distance = distance;
    const int n = static_cast<int>(normals.size());
    if (n > 32) throw std::invalid_argument("at most 32 planes");

    // The planes, then the six faces of a box far outside every bounded cell.
    const real box = 100;
    std::vector<Plane> planes;
    for (Vec3 v : normals) planes.push_back({v, distance});
    for (Vec3 axis : {Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}}) {
        planes.push_back({axis, box});
        planes.push_back({-axis, box});
    }
    const int all = static_cast<int>(planes.size());

    std::vector<Candidate> candidates;
    auto classify = [&](Vec3 p, bool onBox) {
        Candidate c{p, 0, 0, onBox};
        for (int i = 0; i < n; ++i) {
            const real s = dot(normals[i], p) - distance;
            if (std::fabs(s) < epsilon) c.on |= 1u << i;
            else if (s > 0) c.beyond |= 1u << i;
        }
        return c;
    };
    for (int a = 0; a < all; ++a)
        for (int b = a + 1; b < all; ++b)
            for (int c = b + 1; c < all; ++c) {
                Vec3 p;
                if (!solve3(planes[a], planes[b], planes[c], p)) continue;
                if (std::fabs(p.x) > box + epsilon || std::fabs(p.y) > box + epsilon ||
                    std::fabs(p.z) > box + epsilon)
                    continue;
                const bool onBox = c >= n;
                bool seen = false;
                for (const Candidate& q : candidates)
                    if (near(q.p, p)) { seen = true; break; }
                if (!seen) candidates.push_back(classify(p, onBox));
            }
    // Arrangement vertices first, so that their ids index `vertices`.
    std::stable_partition(candidates.begin(), candidates.end(),
                          [](const Candidate& c) { return !c.onBox; });
    std::vector<Vec3> points;
    for (const Candidate& c : candidates) {
        points.push_back(c.p);
        if (!c.onBox) {
            arr.vertices.push_back(c.p);
            arr.through.push_back(c.on);
        }
    }
    const int vertexCount = static_cast<int>(arr.vertices.size());

    // Breadth-first walk over all cells (clipped to the box), crossing one plane at a time.
    std::unordered_map<std::uint32_t, bool> visited;
    std::deque<std::uint32_t> queue{0u};
    visited[0] = true;
    while (!queue.empty()) {
        const std::uint32_t beyond = queue.front();
        queue.pop_front();
        Cell cell;
        cell.beyond = beyond;
        bool bounded = true;
        for (int id = 0; id < static_cast<int>(candidates.size()); ++id) {
            const Candidate& c = candidates[id];
            if (((c.beyond ^ beyond) & ~c.on & ((n == 32) ? ~0u : ((1u << n) - 1))) != 0) continue;
            cell.vertices.push_back(id);
            if (id >= vertexCount) bounded = false;
        }
        for (int i = 0; i < n; ++i) {
            std::vector<int> onPlane;
            for (int id : cell.vertices)
                if (std::fabs(dot(normals[i], points[id]) - distance) < epsilon) onPlane.push_back(id);
            if (!spansPlane(onPlane, points)) continue;
            const Vec3 outward = (beyond >> i & 1u) ? -normals[i] : normals[i];
            cell.facets.push_back({i, sortAround(onPlane, points, outward)});
            const std::uint32_t next = beyond ^ (1u << i);
            if (!visited[next]) {
                visited[next] = true;
                queue.push_back(next);
            }
        }
        if (!bounded) {
            ++arr.unboundedCells;
            continue;
        }
        // Volume and centroid by summing tetrahedra from an inner point.
        Vec3 inner;
        for (int id : cell.vertices) inner = inner + points[id];
        inner = (1.0L / cell.vertices.size()) * inner;
        Vec3 moment;
        for (const Facet& f : cell.facets)
            for (std::size_t k = 1; k + 1 < f.corners.size(); ++k) {
                const Vec3 a = points[f.corners[0]], b = points[f.corners[k]],
                           c = points[f.corners[k + 1]];
                const real v = dot(a - inner, cross(b - inner, c - inner)) / 6;
                cell.volume += v;
                moment = moment + (v / 4) * (inner + a + b + c);
            }
        cell.centroid = (1 / cell.volume) * moment;
        arr.cellOf[beyond] = static_cast<int>(arr.cells.size());
        arr.cells.push_back(std::move(cell));
    }
    return arr;
}

} // namespace stellation
