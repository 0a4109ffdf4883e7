#include "geometry.h"

#include <algorithm>

namespace polygen {

Mat3 rotation(Vec3 axis, double angle)
{
    const Vec3 a = normalize(axis);
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    return {{{c + a.x * a.x * t, a.x * a.y * t - a.z * s, a.x * a.z * t + a.y * s},
             {a.y * a.x * t + a.z * s, c + a.y * a.y * t, a.y * a.z * t - a.x * s},
             {a.z * a.x * t - a.y * s, a.z * a.y * t + a.x * s, c + a.z * a.z * t}}};
}

Mat3 signedPermutation(std::array<int, 3> target, std::array<int, 3> sign)
{
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        r.m[target[i]][i] = sign[i];
    return r;
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
        if (determinant(g) < 0)
            std::reverse(image.begin() + 1, image.end());
        const bool known = std::any_of(images.begin(), images.end(),
                                       [&](const std::vector<Vec3>& f) { return samePointSet(f, image); });
        if (!known)
            images.push_back(image);
    }
    return images;
}

} // namespace polygen
