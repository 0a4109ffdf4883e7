#pragma once

// Double-precision vectors, orthogonal maps and their groups: everything the table generator
// needs to turn representatives into full point and face classes.

#include "geometry/vector.h"

#include <array>
#include <cmath>
#include <vector>

namespace polygen {

using Vec3 = geometry::Vec3<double>;
using Mat3 = geometry::Mat3<double>;

// Coordinates closer than this count as equal: exact values that differ only by rounding.
constexpr double tolerance = 1e-6;

inline bool near(double a, double b) { return std::fabs(a - b) < tolerance; }
inline bool near(Vec3 a, Vec3 b) { return near(a.x, b.x) && near(a.y, b.y) && near(a.z, b.z); }
inline bool near(const Mat3& a, const Mat3& b) { return geometry::near(a, b, tolerance); }

// Right-handed rotation by `angle` radians about `axis`.
Mat3 rotation(Vec3 axis, double angle);

// The signed permutation that sends coordinate i to coordinate target[i] with sign[i].
Mat3 signedPermutation(std::array<int, 3> target, std::array<int, 3> sign);

// Distinct images of p under the group, in the order the group lists them.
std::vector<Vec3> orbit(const std::vector<Mat3>& group, Vec3 p);

// Distinct images of a face (as a point set) under the group. Each image starts at the image
// of the face's first point; a map that reverses orientation reverses the order of the rest,
// so the image stays clockwise from outside and its fan keeps the same first corner.
std::vector<std::vector<Vec3>> faceOrbit(const std::vector<Mat3>& group, const std::vector<Vec3>& face);

} // namespace polygen
