#include "geometry.h"

#include <algorithm>

namespace polygen {

Mat3 Mat3::identity()
{
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        r.m[i][i] = 1;
    return r;
}

Mat3 Mat3::rotation(Vec3 axis, double angle)
{
    const Vec3 a = normalize(axis);
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    Mat3 r;
    r.m = {{{c + a.x * a.x * t, a.x * a.y * t - a.z * s, a.x * a.z * t + a.y * s},
            {a.y * a.x * t + a.z * s, c + a.y * a.y * t, a.y * a.z * t - a.x * s},
            {a.z * a.x * t - a.y * s, a.z * a.y * t + a.x * s, c + a.z * a.z * t}}};
    return r;
}

Mat3 Mat3::signedPermutation(std::array<int, 3> target, std::array<int, 3> sign)
{
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        r.m[target[i]][i] = sign[i];
    return r;
}

Vec3 Mat3::operator*(Vec3 v) const
{
    return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
            m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
            m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
}

Mat3 Mat3::operator*(const Mat3& o) const
{
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r.m[i][j] += m[i][k] * o.m[k][j];
    return r;
}

double Mat3::determinant() const
{
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1])
         - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
         + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

bool near(const Mat3& a, const Mat3& b)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (!near(a.m[i][j], b.m[i][j]))
                return false;
    return true;
}

std::vector<Mat3> closeGroup(const std::vector<Mat3>& generators)
{
    std::vector<Mat3> group{Mat3::identity()};
    for (size_t next = 0; next < group.size(); ++next) {
        for (const Mat3& g : generators) {
            const Mat3 product = g * group[next];
            const bool known = std::any_of(group.begin(), group.end(),
                                           [&](const Mat3& h) { return near(h, product); });
            if (!known)
                group.push_back(product);
        }
    }
    return group;
}

std::vector<Vec3> orbit(const std::vector<Mat3>& group, Vec3 p)
{
    std::vector<Vec3> images;
    for (const Mat3& g : group) {
        const Vec3 q = g * p;
        if (std::none_of(images.begin(), images.end(), [&](Vec3 r) { return near(r, q); }))
            images.push_back(q);
    }
    return images;
}

namespace {

bool samePointSet(const std::vector<Vec3>& a, const std::vector<Vec3>& b)
{
    return a.size() == b.size() && std::all_of(a.begin(), a.end(), [&](Vec3 p) {
               return std::any_of(b.begin(), b.end(), [&](Vec3 q) { return near(p, q); });
           });
}

} // namespace

std::vector<std::vector<Vec3>> faceOrbit(const std::vector<Mat3>& group, const std::vector<Vec3>& face)
{
    std::vector<std::vector<Vec3>> images;
    for (const Mat3& g : group) {
        std::vector<Vec3> image;
        for (Vec3 p : face)
            image.push_back(g * p);
        if (g.determinant() < 0)
            std::reverse(image.begin() + 1, image.end());
        const bool known = std::any_of(images.begin(), images.end(),
                                       [&](const std::vector<Vec3>& f) { return samePointSet(f, image); });
        if (!known)
            images.push_back(image);
    }
    return images;
}

} // namespace polygen
