#pragma once

#include <cmath>

// Vectors and 3 x 3 matrices of the table generators, in the precision each one picks: double in
// polytope-gen, long double in stellation, whose incidence tests of many crossing planes need
// the extra digits to stay far from their tolerance.
namespace geometry {

template <class Real>
struct Vec3 {
    using Scalar = Real;
    Real x = 0, y = 0, z = 0;
};

template <class Real>
Vec3<Real> operator+(Vec3<Real> a, Vec3<Real> b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
template <class Real>
Vec3<Real> operator-(Vec3<Real> a, Vec3<Real> b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
template <class Real>
Vec3<Real> operator-(Vec3<Real> a) { return {-a.x, -a.y, -a.z}; }
// The factor takes the vector's precision (it is not deduced): 2 * v and 0.5 * v both work.
template <class Real>
Vec3<Real> operator*(typename Vec3<Real>::Scalar s, Vec3<Real> a) { return {s * a.x, s * a.y, s * a.z}; }
template <class Real>
Real dot(Vec3<Real> a, Vec3<Real> b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
template <class Real>
Vec3<Real> cross(Vec3<Real> a, Vec3<Real> b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
template <class Real>
Real length(Vec3<Real> a) { return std::sqrt(dot(a, a)); }
template <class Real>
Vec3<Real> normalize(Vec3<Real> a) { return (Real(1) / length(a)) * a; }

// Row-major, acting on column vectors.
template <class Real>
struct Mat3 {
    Real m[3][3] = {};
};

template <class Real>
Mat3<Real> identity()
{
    Mat3<Real> r;
    for (int i = 0; i < 3; ++i)
        r.m[i][i] = 1;
    return r;
}

template <class Real>
Vec3<Real> operator*(const Mat3<Real>& a, Vec3<Real> v)
{
    return {a.m[0][0] * v.x + a.m[0][1] * v.y + a.m[0][2] * v.z,
            a.m[1][0] * v.x + a.m[1][1] * v.y + a.m[1][2] * v.z,
            a.m[2][0] * v.x + a.m[2][1] * v.y + a.m[2][2] * v.z};
}

template <class Real>
Mat3<Real> operator*(const Mat3<Real>& a, const Mat3<Real>& b)
{
    Mat3<Real> r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

template <class Real>
Real determinant(const Mat3<Real>& a)
{
    return a.m[0][0] * (a.m[1][1] * a.m[2][2] - a.m[1][2] * a.m[2][1])
         - a.m[0][1] * (a.m[1][0] * a.m[2][2] - a.m[1][2] * a.m[2][0])
         + a.m[0][2] * (a.m[1][0] * a.m[2][1] - a.m[1][1] * a.m[2][0]);
}

// Every entry within `tolerance` of the other's.
template <class Real>
bool near(const Mat3<Real>& a, const Mat3<Real>& b, Real tolerance)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (std::fabs(a.m[i][j] - b.m[i][j]) >= tolerance)
                return false;
    return true;
}

} // namespace geometry
