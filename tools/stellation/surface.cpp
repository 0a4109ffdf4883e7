#include "surface.h"

#include <algorithm>
#include <map>
#include <numeric>

namespace stellation {

namespace {

struct Piece {
    int plane;
    bool towardCentre;
    const std::vector<int>* corners;
};

int findRoot(std::vector<int>& parent, int x)
{
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
}

} // namespace

Surface unionSurface(const Arrangement& arr, const std::vector<char>& inSolid)
{
    Surface surface;
    std::vector<Piece> pieces;
    for (std::size_t c = 0; c < arr.cells.size(); ++c) {
        if (!inSolid[c]) continue;
        const Cell& cell = arr.cells[c];
        for (const Facet& f : cell.facets) {
            const auto other = arr.cellOf.find(cell.beyond ^ (1u << f.plane));
            if (other != arr.cellOf.end() && inSolid[other->second]) continue;
            pieces.push_back({f.plane, (cell.beyond >> f.plane & 1u) != 0, &f.corners});
        }
    }
    // Pieces of one plane and side that share an edge form one face.
    std::vector<int> parent(pieces.size());
    std::iota(parent.begin(), parent.end(), 0);
    std::map<std::tuple<int, bool, int, int>, int> edgeOwner;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const auto& k = *pieces[p].corners;
        for (std::size_t i = 0; i < k.size(); ++i) {
            const int a = k[i], b = k[(i + 1) % k.size()];
            const auto key = std::make_tuple(pieces[p].plane, pieces[p].towardCentre, std::min(a, b),
                                             std::max(a, b));
            const auto found = edgeOwner.find(key);
            if (found == edgeOwner.end()) edgeOwner[key] = static_cast<int>(p);
            else parent[findRoot(parent, static_cast<int>(p))] = findRoot(parent, found->second);
        }
    }
    std::map<int, std::vector<int>> groups;
    for (std::size_t p = 0; p < pieces.size(); ++p) groups[findRoot(parent, static_cast<int>(p))].push_back(static_cast<int>(p));

    for (const auto& entry : groups) {
        const std::vector<int>& members = entry.second;
        // Border: the directed edges whose reverse no other piece of the face holds.
        std::map<std::pair<int, int>, int> directed;
        for (int p : members) {
            const auto& k = *pieces[p].corners;
            for (std::size_t i = 0; i < k.size(); ++i) directed[{k[i], k[(i + 1) % k.size()]}]++;
        }
        std::multimap<int, int> next;
        for (const auto& e : directed)
            if (!directed.count({e.first.second, e.first.first})) next.insert({e.first.first, e.first.second});
        Face face;
        face.plane = pieces[members[0]].plane;
        face.towardCentre = pieces[members[0]].towardCentre;
        for (const auto& e : next)
            if (next.count(e.first) > 1) surface.problem = "a face border touches itself";
        // Start at the smallest vertex so that the border's order does not depend on the walk.
        int start = next.begin()->first, at = start;
        do {
            face.boundary.push_back(at);
            const auto step = next.find(at);
            if (step == next.end()) break;
            at = step->second;
        } while (at != start && face.boundary.size() <= next.size());
        if (face.boundary.size() != next.size()) surface.problem = "a face has a hole";
        const std::size_t n = face.boundary.size();
        for (std::size_t i = 0; i < n; ++i) {
            const Vec3 prev = arr.vertices[face.boundary[(i + n - 1) % n]];
            const Vec3 here = arr.vertices[face.boundary[i]];
            const Vec3 after = arr.vertices[face.boundary[(i + 1) % n]];
            if (length(cross(here - prev, after - here)) > 1e-7L) face.corners.push_back(face.boundary[i]);
        }
        surface.faces.push_back(std::move(face));
    }
    return surface;
}

} // namespace stellation

namespace stellation {

CornerTest::CornerTest(const Arrangement& a, int v) : arr(&a), vertex(v)
{
    for (std::size_t c = 0; c < a.cells.size(); ++c)
        if (std::find(a.cells[c].vertices.begin(), a.cells[c].vertices.end(), v) != a.cells[c].vertices.end())
            incidentCells.push_back(static_cast<int>(c));
    auto local = [&](int cell) {
        const auto it = std::find(incidentCells.begin(), incidentCells.end(), cell);
        return it == incidentCells.end() ? -1 : static_cast<int>(it - incidentCells.begin());
    };
    for (std::size_t i = 0; i < incidentCells.size(); ++i) {
        const Cell& cell = a.cells[incidentCells[i]];
        for (const Facet& f : cell.facets) {
            const auto at = std::find(f.corners.begin(), f.corners.end(), v);
            if (at == f.corners.end()) continue;
            const std::size_t n = f.corners.size(), k = static_cast<std::size_t>(at - f.corners.begin());
            const auto other = a.cellOf.find(cell.beyond ^ (1u << f.plane));
            wedges.push_back({static_cast<int>(i), other == a.cellOf.end() ? -1 : local(other->second), f.plane,
                              (cell.beyond >> f.plane & 1u) != 0, f.corners[(k + n - 1) % n],
                              f.corners[(k + 1) % n]});
        }
    }
}

bool CornerTest::isCorner(const std::vector<char>& inside) const
{
    // Border edges at the vertex, per plane and side: a wedge of a surface facet contributes
    // (before -> vertex) and (vertex -> after); edges met in both directions are inner edges.
    struct Edge {
        int plane;
        bool beyond;
        int from, to;
    };
    Edge edges[64];
    int count = 0;
    for (const Wedge& w : wedges) {
        if (!inside[w.cell] || (w.neighbour >= 0 && inside[w.neighbour])) continue;
        if (count + 2 > 64) return true;
        edges[count++] = {w.plane, w.beyond, w.before, vertex};
        edges[count++] = {w.plane, w.beyond, vertex, w.after};
    }
    bool used[64] = {};
    for (int i = 0; i < count; ++i)
        for (int j = i + 1; j < count; ++j)
            if (!used[i] && !used[j] && edges[i].plane == edges[j].plane && edges[i].beyond == edges[j].beyond &&
                edges[i].from == edges[j].to && edges[i].to == edges[j].from)
                used[i] = used[j] = true;
    for (int i = 0; i < count; ++i) {
        if (used[i]) continue;
        // The face through this edge: it turns at the vertex unless exactly one more border
        // edge of the same plane and side continues it in a straight line.
        int partner = -1, others = 0;
        for (int j = 0; j < count; ++j)
            if (j != i && !used[j] && edges[j].plane == edges[i].plane && edges[j].beyond == edges[i].beyond) {
                partner = j;
                ++others;
            }
        if (others != 1) return true;
        const int a = edges[i].from == vertex ? edges[i].to : edges[i].from;
        const int b = edges[partner].from == vertex ? edges[partner].to : edges[partner].from;
        const Vec3 p = arr->vertices[vertex];
        if (length(cross(arr->vertices[a] - p, arr->vertices[b] - p)) > 1e-7L) return true;
        if (dot(arr->vertices[a] - p, arr->vertices[b] - p) > 0) return true;
    }
    return false;
}

} // namespace stellation
