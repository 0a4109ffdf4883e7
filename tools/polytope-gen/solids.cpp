#include "solids.h"

#include "geometry/figures.h"
#include "geometry/group.h"

#include <algorithm>
#include <stdexcept>

namespace polygen {

namespace {

const double pi = 3.14159265358979323846;
const double phi = (1 + std::sqrt(5.0)) / 2;

void require(bool ok, const std::string& what)
{
    if (!ok)
        throw std::runtime_error(what);
}

double coordinate(Vec3 v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

// Ascending by the coordinates in `keyOrder`, the first deciding unless two values are equal
// within the tolerance (exact values equal, rounding apart): then the next one decides.
void sortPoints(std::vector<Vec3>& points, std::array<int, 3> keyOrder)
{
    std::stable_sort(points.begin(), points.end(), [&](Vec3 a, Vec3 b) {
        for (int axis : keyOrder) {
            const double ca = coordinate(a, axis), cb = coordinate(b, axis);
            if (!near(ca, cb))
                return ca < cb;
        }
        return false;
    });
}

int indexOf(const std::vector<Vec3>& points, Vec3 p)
{
    for (size_t i = 0; i < points.size(); ++i)
        if (near(points[i], p))
            return static_cast<int>(i);
    throw std::runtime_error("a face corner is not among the points");
}

std::vector<int> toIndices(const std::vector<Vec3>& points, const std::vector<Vec3>& face)
{
    std::vector<int> indices;
    for (Vec3 p : face)
        indices.push_back(indexOf(points, p));
    return indices;
}

// The representative (the identity's image, first in `images`) leads; the other images follow
// in lexicographic order of their index lists.
std::vector<std::vector<int>> orderedClass(const std::vector<Vec3>& points,
                                           const std::vector<std::vector<Vec3>>& images)
{
    std::vector<std::vector<int>> faces;
    for (const auto& image : images)
        faces.push_back(toIndices(points, image));
    std::sort(faces.begin() + 1, faces.end());
    return faces;
}

void append(std::vector<std::vector<int>>& to, const std::vector<std::vector<int>>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

std::vector<Vec3> orbits(const std::vector<Mat3>& group, const std::vector<Vec3>& representatives)
{
    std::vector<Vec3> points;
    for (Vec3 r : representatives) {
        const std::vector<Vec3> images = orbit(group, r);
        points.insert(points.end(), images.begin(), images.end());
    }
    return points;
}

// The 120 symmetries of the icosahedron with vertices at the cyclic permutations of (0, ±φ, ±1).
std::vector<Mat3> icosahedralGroup()
{
    const Mat3 cyclic = signedPermutation({1, 2, 0}, {1, 1, 1});
    const Mat3 mirrorX = signedPermutation({0, 1, 2}, {-1, 1, 1});
    const Mat3 turn = rotation({0, phi, 1}, 2 * pi / 5);
    const auto product = [](const Mat3& a, const Mat3& b) { return a * b; };
    const auto same = [](const Mat3& a, const Mat3& b) { return near(a, b); };
    std::vector<Mat3> group = geometry::closeGroup(geometry::identity<double>(), {cyclic, mirrorX, turn}, product, same);
    require(group.size() == 120, "icosahedral group order");
    return group;
}

// Angle of p about `axis`, increasing counter-clockwise as seen from outside (from +axis).
double angleAbout(Vec3 axis, Vec3 p)
{
    const Vec3 n = normalize(axis);
    const Vec3 helper = std::fabs(n.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    const Vec3 u = normalize(cross(n, helper));
    const Vec3 v = cross(n, u);
    return std::atan2(dot(p, v), dot(p, u));
}

// Indices of `candidates` (into `points`) sorted counter-clockwise about `axis`.
std::vector<int> counterClockwise(const std::vector<Vec3>& points, std::vector<int> candidates, Vec3 axis)
{
    std::sort(candidates.begin(), candidates.end(),
              [&](int a, int b) { return angleAbout(axis, points[a]) < angleAbout(axis, points[b]); });
    return candidates;
}

// Indices of the points in the plane normal to `direction` near `approximateDistance`; they
// must all share one exact distance.
std::vector<int> pointsInPlane(const std::vector<Vec3>& points, Vec3 direction, double approximateDistance)
{
    const Vec3 n = normalize(direction);
    std::vector<int> found;
    for (size_t i = 0; i < points.size(); ++i)
        if (std::fabs(dot(points[i], n) - approximateDistance) < 1e-3)
            found.push_back(static_cast<int>(i));
    require(!found.empty(), "no point in the plane");
    for (int i : found)
        require(near(dot(points[i], n), dot(points[found[0]], n)), "points near the plane but off it");
    return found;
}

// A convex polygon of the given points, clockwise from outside, starting at its lowest index.
std::vector<int> clockwiseFromLowest(const std::vector<Vec3>& points, const std::vector<int>& corners, Vec3 outward)
{
    std::vector<int> face = counterClockwise(points, corners, outward);
    std::reverse(face.begin(), face.end());
    std::rotate(face.begin(), std::min_element(face.begin(), face.end()), face.end());
    return face;
}

struct Icosahedron {
    std::vector<Vec3> vertices;
    std::vector<std::pair<int, int>> edges;
    std::vector<std::array<int, 3>> triangles;
};

Icosahedron icosahedron(std::vector<Vec3> vertices)
{
    Icosahedron ico{std::move(vertices), {}, {}};
    const auto& v = ico.vertices;
    require(v.size() == 12, "icosahedron vertex count");
    double edge = 1e9;
    for (size_t a = 0; a < v.size(); ++a)
        for (size_t b = a + 1; b < v.size(); ++b)
            edge = std::min(edge, length(v[a] - v[b]));
    auto adjacent = [&](int a, int b) { return near(length(v[a] - v[b]), edge); };
    for (int a = 0; a < 12; ++a)
        for (int b = a + 1; b < 12; ++b)
            if (adjacent(a, b)) {
                ico.edges.push_back({a, b});
                for (int c = b + 1; c < 12; ++c)
                    if (adjacent(a, c) && adjacent(b, c))
                        ico.triangles.push_back({a, b, c});
            }
    require(ico.edges.size() == 30 && ico.triangles.size() == 20, "not an icosahedron");
    return ico;
}

// The two solids built of twelve star fans (five triangles each) around the icosahedron's
// vertices, whose corners are 30 outer points over the icosahedron's edges.
//
// Numbering: the outer point straight ahead (+z) is point 0. Fan 0 is the one of the two fans
// holding point 0 whose centre has the larger x. Each fan is walked from its lowest-numbered
// outer point counter-clockwise as seen from outside, in steps of two corners (a pentagram),
// numbering outer points in the order met; it yields the triangles (centre, next, current), so
// each triangle runs clockwise and shares its first outer point with the following triangle's
// last. The next fan is the unvisited one holding the lowest-numbered outer point. The inner
// points are numbered 30 + fan.
struct FanSolid {
    std::vector<Vec3> points;               // outer (30) then inner (12)
    std::vector<std::vector<int>> fans;     // 60 triangles
    Icosahedron ico;                        // the inner points, in fan order
};

FanSolid fanSolid(const std::vector<Vec3>& innerPoints, bool fanOverLinkEdges)
{
    const Icosahedron source = icosahedron(innerPoints);
    const auto& v = source.vertices;
    const double innerRadius = length(v[0]);

    // The outer radius puts a fan's outer points in the plane through its centre: over the
    // edges joining the centre's neighbours, or over the edges meeting at the centre.
    const int centre = 0;
    auto isEdge = [&](int a, int b) {
        return std::count(source.edges.begin(), source.edges.end(), std::make_pair(std::min(a, b), std::max(a, b))) != 0;
    };
    Vec3 fanCorner{};
    for (auto [a, b] : source.edges) {
        const bool incident = a == centre || b == centre;
        const bool link = !incident && isEdge(a, centre) && isEdge(b, centre);
        if (fanOverLinkEdges ? link : incident) {
            fanCorner = normalize(v[a] + v[b]);
            break;
        }
    }
    const double outerRadius = innerRadius / dot(normalize(v[centre]), fanCorner);

    std::vector<Vec3> outer;
    for (auto [a, b] : source.edges)
        outer.push_back(outerRadius * normalize(v[a] + v[b]));

    std::vector<std::vector<int>> fanCorners(12);  // per source vertex, indices into `outer`
    for (int c = 0; c < 12; ++c) {
        fanCorners[c] = pointsInPlane(outer, v[c], innerRadius);
        require(fanCorners[c].size() == 5, "a fan needs five outer points");
    }

    std::vector<int> number(30, -1);
    std::vector<int> fanOrder;  // source vertices in fan order
    std::vector<bool> visited(12, false);
    int counter = 0;

    int start = 0;
    for (int i = 1; i < 30; ++i)
        if (outer[i].z > outer[start].z)
            start = i;
    int first = -1;
    for (int c = 0; c < 12; ++c)
        if (std::count(fanCorners[c].begin(), fanCorners[c].end(), start) != 0
            && (first < 0 || v[c].x > v[first].x))
            first = c;

    FanSolid solid;
    std::vector<std::vector<int>> fansByOuter;  // triangles as (source centre, outer, outer)
    for (int c = first; c >= 0;) {
        visited[c] = true;
        fanOrder.push_back(c);
        const std::vector<int> ring = counterClockwise(outer, fanCorners[c], v[c]);
        int position = static_cast<int>(std::find(ring.begin(), ring.end(), start) - ring.begin());
        for (int step = 0; step < 5; ++step) {
            const int current = ring[position];
            const int next = ring[(position + 2) % 5];
            if (number[current] < 0)
                number[current] = counter++;
            fansByOuter.push_back({c, next, current});
            position = (position + 2) % 5;
        }
        // The unvisited fan that holds the lowest-numbered outer point.
        c = -1;
        for (int n = 0; n < counter && c < 0; ++n) {
            const int o = static_cast<int>(std::find(number.begin(), number.end(), n) - number.begin());
            for (int d = 0; d < 12; ++d)
                if (!visited[d] && std::count(fanCorners[d].begin(), fanCorners[d].end(), o) != 0) {
                    c = d;
                    start = o;
                    break;
                }
        }
    }
    require(counter == 30 && fanOrder.size() == 12, "the fans do not reach every point");

    solid.points.resize(30);
    for (int o = 0; o < 30; ++o)
        solid.points[number[o]] = outer[o];
    std::vector<int> innerNumber(12);
    std::vector<Vec3> innerOrdered;
    for (int k = 0; k < 12; ++k) {
        innerNumber[fanOrder[k]] = 30 + k;
        solid.points.push_back(v[fanOrder[k]]);
        innerOrdered.push_back(v[fanOrder[k]]);
    }
    for (const auto& t : fansByOuter)
        solid.fans.push_back({innerNumber[t[0]], number[t[1]], number[t[2]]});
    solid.ico = icosahedron(innerOrdered);
    return solid;
}

} // namespace

Table hubTable()
{
    Table t;
    t.name = "hub";
    t.decimals = 5;
    auto ring = [](double radius, double y, double theta) {
        return Vec3{radius * std::sin(theta), y, -radius * std::cos(theta)};
    };
    for (int i = 0; i < 7; ++i)
        t.points.push_back(ring(2, 2, 2 * pi * i / 7));
    for (int i = 0; i < 7; ++i)
        t.points.push_back(ring(1, 0, (2 * i + 5) * pi / 7));
    for (int i = 0; i < 7; ++i)
        t.points.push_back(ring(2, -2, 2 * pi * (i + 4) / 7));
    t.points.push_back({0, 4, 0});

    auto T = [](int i) { return (i + 7) % 7; };
    auto W = [](int i) { return 7 + (i + 7) % 7; };
    auto B = [](int i) { return 14 + (i + 7) % 7; };
    const int apex = 21;
    for (int i = 0; i < 7; ++i)
        t.faces.push_back({T(i), T(i + 1), apex});
    t.faces.push_back({B(6), B(5), B(4), B(3), B(2), B(1), B(0)});
    for (int i = 0; i < 7; ++i) {
        t.faces.push_back({T(i), W(i), T(i + 1)});
        t.faces.push_back({W(i), B(i), B(i + 1)});
    }
    for (int i = 0; i < 7; ++i) {
        t.faces.push_back({T(i), W(i - 1), W(i)});
        t.faces.push_back({W(i - 1), B(i), W(i)});
    }
    t.colours = geometry::publishedFigures(t.name).colours;
    return t;
}

Table gticosidodecaTable()
{
    // Icosahedron of circumradius 2/√5 with a five-fold axis along y: rings at y = ±0.4 and
    // 0.8 from the axis, the upper at azimuths 36° + 72°k, the lower at 72°k.
    std::vector<Vec3> inner{{0, 2 / std::sqrt(5.0), 0}, {0, -2 / std::sqrt(5.0), 0}};
    for (int k = 0; k < 5; ++k) {
        const double upper = (36 + 72 * k) * pi / 180, lower = 72 * k * pi / 180;
        inner.push_back({0.8 * std::cos(upper), 0.4, 0.8 * std::sin(upper)});
        inner.push_back({0.8 * std::cos(lower), -0.4, 0.8 * std::sin(lower)});
    }
    const FanSolid solid = fanSolid(inner, true);

    Table t;
    t.name = "gticosidodeca";
    t.points = solid.points;
    t.faces = solid.fans;
    // One triangle of outer points per face of the icosahedron, in the plane normal to it.
    std::vector<std::vector<int>> triangles;
    for (const auto& f : solid.ico.triangles) {
        const Vec3 d = solid.ico.vertices[f[0]] + solid.ico.vertices[f[1]] + solid.ico.vertices[f[2]];
        const std::vector<Vec3> outer(t.points.begin(), t.points.begin() + 30);
        const std::vector<int> corners = pointsInPlane(outer, d, 0.6071);
        require(corners.size() == 3, "a face plane needs three outer points");
        triangles.push_back(clockwiseFromLowest(t.points, corners, d));
    }
    std::sort(triangles.begin(), triangles.end());
    append(t.faces, triangles);
    t.colours = geometry::publishedFigures(t.name).colours;
    return t;
}

Table dodecadodecaTable()
{
    // Icosahedron with a three-fold axis along y, inradius-to-circumradius placed so that the
    // outer points come out at 2/√3: its circumradius is (2/√3)·φ/√(1 + φ²).
    const double s = std::sqrt(1 + phi * phi);
    const double radius = 2 / std::sqrt(3.0) * phi / s;
    const double highY = radius * phi * phi / (std::sqrt(3.0) * s);
    const double lowY = radius / (phi * std::sqrt(3.0) * s);
    const double highR = std::sqrt(radius * radius - highY * highY);
    const double lowR = std::sqrt(radius * radius - lowY * lowY);
    require(std::fabs(highY - 0.780547) < 1e-6 && std::fabs(highR - 0.596285) < 1e-6
                && std::fabs(lowY - 0.184262) < 1e-6 && std::fabs(lowR - 0.964809) < 1e-6,
            "dodecadodeca icosahedron rings");
    auto at = [](double distance, double y, double degrees) {
        const double a = degrees * pi / 180;
        return Vec3{distance * std::cos(a), y, distance * std::sin(a)};
    };
    std::vector<Vec3> inner;
    for (int k = 0; k < 3; ++k) {
        inner.push_back(at(highR, highY, 120 * k));
        inner.push_back(at(lowR, lowY, 60 + 120 * k));
        inner.push_back(at(lowR, -lowY, 120 * k));
        inner.push_back(at(highR, -highY, 60 + 120 * k));
    }
    const FanSolid solid = fanSolid(inner, false);

    Table t;
    t.name = "dodecadodeca";
    t.points = solid.points;
    t.faces = solid.fans;
    // One pentagon per inner point, of the outer points over the edges of its neighbours.
    std::vector<std::vector<int>> pentagons;
    const std::vector<Vec3> outer(t.points.begin(), t.points.begin() + 30);
    for (Vec3 c : solid.ico.vertices) {
        const std::vector<int> corners = pointsInPlane(outer, c, 0.6071);
        require(corners.size() == 5, "a pentagon plane needs five outer points");
        pentagons.push_back(clockwiseFromLowest(t.points, corners, c));
    }
    std::sort(pentagons.begin(), pentagons.end());
    append(t.faces, pentagons);
    t.colours = geometry::publishedFigures(t.name).colours;
    return t;
}

Table sco2Table()
{
    // Cube coordinates (a, b, c) lie at u (a e1 + b e2 + c e3), the diagonal (1, 1, 1) along y.
    const double u = std::sqrt(2.0 / 3.0);
    const Vec3 e1{std::sqrt(2.0 / 3.0), 1 / std::sqrt(3.0), 0};
    const Vec3 e2{-1 / std::sqrt(6.0), 1 / std::sqrt(3.0), -1 / std::sqrt(2.0)};
    const Vec3 e3{-1 / std::sqrt(6.0), 1 / std::sqrt(3.0), 1 / std::sqrt(2.0)};
    Mat3 toWorld;
    for (int i = 0; i < 3; ++i) {
        toWorld.m[i][0] = u * coordinate(e1, i);
        toWorld.m[i][1] = u * coordinate(e2, i);
        toWorld.m[i][2] = u * coordinate(e3, i);
    }
    auto world = [&](double a, double b, double c) { return toWorld * Vec3{a, b, c}; };

    // The 48 permutations with sign changes of the cube coordinates, carried into world space.
    Mat3 toCube;  // the inverse of toWorld: orthonormal columns scaled by u
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            toCube.m[i][j] = toWorld.m[j][i] / (u * u);
    std::vector<Mat3> group;
    const std::array<std::array<int, 3>, 6> permutations{
        {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}}};
    for (const auto& p : permutations)
        for (int signs = 0; signs < 8; ++signs) {
            const Mat3 cube = signedPermutation(p, {signs & 1 ? -1 : 1, signs & 2 ? -1 : 1, signs & 4 ? -1 : 1});
            group.push_back(toWorld * cube * toCube);
        }
    const Mat3 one = geometry::identity<double>();
    std::stable_sort(group.begin(), group.end(), [&](const Mat3& a, const Mat3& b) {
        return near(a, one) && !near(b, one);
    });

    Table t;
    t.name = "sco2";
    t.points = orbits(group, {world(1, 1, 0), world(1, 1, 1), world(2, 0, 0), world(1, 1, 2)});
    // Exact ties in x are common here; z before y puts the telling rows' points in place.
    sortPoints(t.points, {0, 2, 1});
    append(t.faces, orderedClass(t.points, faceOrbit(group, {world(-1, 1, 0), world(-1, 2, -1), world(0, 2, 0)})));
    append(t.faces, orderedClass(t.points, faceOrbit(group, {world(-1, 1, -1), world(-1, 2, -1), world(-1, 1, 0)})));
    t.colours = geometry::publishedFigures(t.name).colours;
    return t;
}

Table srtc15Table()
{
    const double p2 = phi * phi, p3 = p2 * phi, p4 = p3 * phi;
    const std::vector<Mat3> group = icosahedralGroup();
    Table t;
    t.name = "srtc15";
    t.points = orbits(group, {{0, p2, p4}, {0, 0, 2 * p2}, {p2, 0, p3}, {1, 1, p3}, {1, 0, p2 + 1}, {phi, 0, p2}});
    sortPoints(t.points, {0, 1, 2});
    append(t.faces, orderedClass(t.points, faceOrbit(group, {{-p3, -p2, 0}, {-p3, -1, -1}, {-p2 - 1, -1, 0}})));
    append(t.faces, orderedClass(t.points,
                                 faceOrbit(group, {{-p4, 0, -p2}, {-p3, phi, -p2}, {-p2, phi, 0}, {-2 * p2, 0, 0}})));
    t.colours = geometry::publishedFigures(t.name).colours;
    return t;
}

Table srtc35Table()
{
    const double p2 = phi * phi, p3 = p2 * phi;
    const std::vector<Mat3> group = icosahedralGroup();
    Table t;
    t.name = "srtc35";
    t.points = orbits(group, {{0, 0, 2 * p2}, {p2, 0, p3}, {0, phi, p3}, {1, 0, p2 + 1}, {1, 1 / phi, 2 * phi}});
    sortPoints(t.points, {0, 1, 2});
    // One colour, so the two classes share one order: interleaved by their index lists.
    std::vector<std::vector<Vec3>> images =
        faceOrbit(group, {{-2 * p2, 0, 0}, {-p2 - 1, -1, 0}, {-2 * phi, -1, -1 / phi}, {-p3, 0, -phi}});
    const std::vector<std::vector<Vec3>> second =
        faceOrbit(group, {{-p3, -p2, 0}, {-p2 - 1, -1, 0}, {-2 * phi, -1, 1 / phi}, {-2 * phi, -phi, 1}});
    images.insert(images.end(), second.begin(), second.end());
    t.faces = orderedClass(t.points, images);
    t.colours = geometry::publishedFigures(t.name).colours;
    return t;
}

std::vector<Table> allTables()
{
    return {hubTable(), gticosidodecaTable(), dodecadodecaTable(), sco2Table(), srtc15Table(), srtc35Table()};
}

void checkTellingRows(const Table& t)
{
    const geometry::SolidFigures& f = geometry::publishedFigures(t.name);
    require(t.points.size() == static_cast<size_t>(f.points), t.name + ": point count");
    require(t.faces.size() == static_cast<size_t>(f.faces), t.name + ": face count");
    for (const geometry::TellingPoint& row : f.telling) {
        const Vec3 p = t.points[row.index];
        require(std::fabs(p.x - row.position.x) < 1e-5 && std::fabs(p.y - row.position.y) < 1e-5
                    && std::fabs(p.z - row.position.z) < 1e-5,
                t.name + ": point " + std::to_string(row.index));
    }
    require(t.faces[0] == f.firstFace, t.name + ": first face");
    int runs = 0;
    for (auto run : t.colours)
        runs += run.first;
    require(runs == static_cast<int>(t.faces.size()), t.name + ": colour runs");
}

} // namespace polygen
