#pragma once

#include "geometry/vector.h"

// Long double vectors: the arrangement is built from irrational coordinates, and the
// extra precision keeps every incidence test far away from its tolerance.
namespace stellation {

using real = long double;
using Vec3 = geometry::Vec3<real>;
using Mat3 = geometry::Mat3<real>;

// Incidence tolerance: coordinates stay below 20, so rounding errors are ~1e-16.
constexpr real epsilon = 1e-9L;

inline bool near(Vec3 a, Vec3 b) { return length(a - b) < epsilon; }
inline bool near(const Mat3& a, const Mat3& b) { return geometry::near(a, b, epsilon); }

// The matrix whose columns are a, b, c.
inline Mat3 fromColumns(Vec3 a, Vec3 b, Vec3 c)
{
    Mat3 r;
    const Vec3 cols[3] = {a, b, c};
    for (int j = 0; j < 3; ++j) {
        r.m[0][j] = cols[j].x;
        r.m[1][j] = cols[j].y;
        r.m[2][j] = cols[j].z;
    }
    return r;
}

} // namespace stellation
