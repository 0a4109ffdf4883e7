#include "search.h"

#include "surface.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <stdexcept>

namespace stellation {

long radiusKey(Vec3 p) { return static_cast<long>(std::lround(length(p) * 10000)); }

namespace {

constexpr int maxTabulated = 24;

// A vertex orbit and its corner test tabulated over the orbits of its cells, those ordered by
// their position in the search, so that the cells decided so far are always a prefix.
struct VertexOrbit {
    int size = 0;
    long radius = 0;
    std::vector<int> orbits;  // incident cell orbits by search position
    // canBe[d][a]: with the first d orbits set as in the bits of a, some completion gives
    // a corner (bit 0) / a non-corner (bit 1).
    std::vector<std::vector<std::uint8_t>> canBe;
};

struct Search {
    const std::vector<std::vector<int>>* orbits;
    std::vector<int> order;     // search position -> cell orbit
    std::vector<char> chosen;   // per search position
    std::vector<int> allowed;   // per search position: bit 0 leaving out allowed, bit 1 taking in
    std::vector<VertexOrbit> vertexOrbits;
    std::vector<std::vector<int>> touching;  // search position -> vertex orbits incident to it
    std::vector<int> wantedOf;               // per vertex orbit, index of its radius in `radii`, or -1
    std::vector<long> radii;
    std::vector<int> target;
    std::vector<int> forced;          // per radius, points certainly present
    std::vector<std::map<int, int>> open;  // per radius, open vertex orbits by size
    std::vector<int> state;           // per vertex orbit: 0 open, 1 corner, 2 no corner
    int unwantedForced = 0;
    SearchStats stats;
    const std::function<void(const std::vector<char>&)>* accept;
    std::vector<char> cells;

    int decidedPrefix(const VertexOrbit& vo, int position) const
    {
        int d = 0;
        while (d < static_cast<int>(vo.orbits.size()) && vo.orbits[d] <= position) ++d;
        return d;
    }

    std::uint8_t possible(const VertexOrbit& vo, int position) const
    {
        const int d = decidedPrefix(vo, position);
        std::uint32_t a = 0;
        for (int j = 0; j < d; ++j)
            if (chosen[vo.orbits[j]]) a |= 1u << j;
        return vo.canBe[d][a];
    }

    bool feasible() const
    {
        if (unwantedForced) return false;
        for (std::size_t r = 0; r < radii.size(); ++r) {
            const int need = target[r] - forced[r];
            if (need < 0) return false;
            std::vector<char> reach(need + 1, 0);
            reach[0] = 1;
            for (const auto& entry : open[r])
                for (int k = 0; k < entry.second; ++k)
                    for (int x = need; x >= entry.first; --x)
                        if (reach[x - entry.first]) reach[x] = 1;
            if (!reach[need]) return false;
        }
        return true;
    }

    void setState(int vo, int s)
    {
        const VertexOrbit& v = vertexOrbits[vo];
        const int r = wantedOf[vo];
        auto apply = [&](int st, int sign) {
            if (r < 0) {
                if (st == 1) unwantedForced += sign;
                return;
            }
            if (st == 0) open[r][v.size] += sign;
            if (st == 1) forced[r] += sign * v.size;
        };
        apply(state[vo], -1);
        state[vo] = s;
        apply(s, +1);
    }

    void descend(int position)
    {
        ++stats.nodes;
        if (position == static_cast<int>(order.size())) {
            ++stats.leaves;
            std::fill(cells.begin(), cells.end(), 0);
            for (std::size_t p = 0; p < order.size(); ++p)
                if (chosen[p])
                    for (int c : (*orbits)[order[p]]) cells[c] = 1;
            (*accept)(cells);
            return;
        }
        for (char choice : {0, 1}) {
            if (!(allowed[position] >> choice & 1)) continue;
            chosen[position] = choice;
            std::vector<std::pair<int, int>> undo;
            for (int vo : touching[position]) {
                const std::uint8_t can = possible(vertexOrbits[vo], position);
                const int s = can == 1 ? 1 : can == 2 ? 2 : 0;
                if (s != state[vo]) {
                    undo.push_back({vo, state[vo]});
                    setState(vo, s);
                }
            }
            if (feasible()) descend(position + 1);
            for (auto it = undo.rbegin(); it != undo.rend(); ++it) setState(it->first, it->second);
        }
        chosen[position] = 0;
    }
};

} // namespace

SearchStats searchUnions(const Arrangement& arr, const std::vector<Symmetry>& symmetries, const Subgroup& group,
                         const RadiusCounts& wanted,
                         const std::function<void(const std::vector<char>& inSolid)>& accept,
                         const std::vector<signed char>& required)
{
    const int cellCount = static_cast<int>(arr.cells.size());
    const auto orbits = cellOrbits(symmetries, group, cellCount);
    Search s;
    s.orbits = &orbits;
    s.accept = &accept;
    s.cells.assign(cellCount, 0);
    // Inner orbits first: the corners near the centre are settled early.
    s.order.resize(orbits.size());
    for (std::size_t o = 0; o < orbits.size(); ++o) s.order[o] = static_cast<int>(o);
    std::stable_sort(s.order.begin(), s.order.end(), [&](int a, int b) {
        return length(arr.cells[orbits[a][0]].centroid) < length(arr.cells[orbits[b][0]].centroid);
    });
    std::vector<int> positionOfCell(cellCount);
    for (std::size_t p = 0; p < s.order.size(); ++p)
        for (int c : orbits[s.order[p]]) positionOfCell[c] = static_cast<int>(p);
    s.chosen.assign(orbits.size(), 0);
    s.allowed.assign(orbits.size(), 3);
    for (std::size_t c = 0; c < required.size(); ++c)
        if (required[c] >= 0) s.allowed[positionOfCell[c]] &= required[c] ? 2 : 1;
    s.touching.resize(orbits.size());
    for (const auto& entry : wanted) {
        s.radii.push_back(entry.first);
        s.target.push_back(entry.second);
    }
    s.forced.assign(s.radii.size(), 0);
    s.open.resize(s.radii.size());

    std::vector<char> seen(arr.vertices.size(), 0);
    for (std::size_t v = 0; v < arr.vertices.size(); ++v) {
        if (seen[v]) continue;
        std::set<int> members;
        for (int e : group.elements) members.insert(symmetries[e].vertexImage[v]);
        for (int m : members) seen[m] = 1;
        VertexOrbit vo;
        vo.size = static_cast<int>(members.size());
        vo.radius = radiusKey(arr.vertices[v]);
        const CornerTest test(arr, static_cast<int>(v));
        std::set<int> positions;
        for (int c : test.cells()) positions.insert(positionOfCell[c]);
        vo.orbits.assign(positions.begin(), positions.end());
        const int m = static_cast<int>(vo.orbits.size());
        if (m > maxTabulated) throw std::runtime_error("too many cell orbits around a vertex");
        std::vector<int> bitOfCell;
        for (int c : test.cells())
            bitOfCell.push_back(static_cast<int>(std::find(vo.orbits.begin(), vo.orbits.end(), positionOfCell[c]) -
                                                 vo.orbits.begin()));
        vo.canBe.resize(m + 1);
        vo.canBe[m].resize(std::size_t(1) << m);
        std::vector<char> inside(test.cells().size());
        for (std::uint32_t a = 0; a < (1u << m); ++a) {
            for (std::size_t i = 0; i < inside.size(); ++i) inside[i] = (a >> bitOfCell[i]) & 1u;
            vo.canBe[m][a] = test.isCorner(inside) ? 1 : 2;
        }
        for (int d = m - 1; d >= 0; --d) {
            vo.canBe[d].resize(std::size_t(1) << d);
            for (std::uint32_t a = 0; a < (1u << d); ++a)
                vo.canBe[d][a] = vo.canBe[d + 1][a] | vo.canBe[d + 1][a | (1u << d)];
        }
        const int index = static_cast<int>(s.vertexOrbits.size());
        for (int p : vo.orbits) s.touching[p].push_back(index);
        const auto r = std::find(s.radii.begin(), s.radii.end(), vo.radius);
        s.wantedOf.push_back(r == s.radii.end() ? -1 : static_cast<int>(r - s.radii.begin()));
        s.vertexOrbits.push_back(std::move(vo));
    }
    // Initial states: what every union allows.
    s.state.assign(s.vertexOrbits.size(), 0);
    for (std::size_t i = 0; i < s.vertexOrbits.size(); ++i) {
        const std::uint8_t can = s.vertexOrbits[i].canBe[0][0];
        const int r = s.wantedOf[i];
        if (r >= 0) s.open[r][s.vertexOrbits[i].size] += 1;
        s.state[i] = 0;
        if (can != 3) s.setState(static_cast<int>(i), can == 1 ? 1 : 2);
    }
    if (s.feasible()) s.descend(0);
    return s.stats;
}

} // namespace stellation
