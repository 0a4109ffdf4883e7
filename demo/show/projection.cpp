#include "projection.h"

#include <glm/gtc/constants.hpp>

#include <cmath>

glm::mat4 perspectiveMatrix()
{
    // The arguments as loadProjection hands them to GLU: aspect and near in single precision.
    const double fieldOfView = 50.0;
    const double aspect = static_cast<double>(16.0f / 9.0f);
    const double nearPlane = static_cast<double>(0.1f);
    const double farPlane = 1000.0;
    const double radians = fieldOfView / 2 * glm::pi<double>() / 180;
    const double depth = farPlane - nearPlane;
    const double cotangent = std::cos(radians) / std::sin(radians);
    glm::mat4 projection(0.0f);
    projection[0][0] = static_cast<float>(cotangent / aspect);
    projection[1][1] = static_cast<float>(cotangent);
    projection[2][2] = static_cast<float>(-(farPlane + nearPlane) / depth);
    projection[2][3] = -1.0f;
    projection[3][2] = static_cast<float>(-2 * nearPlane * farPlane / depth);
    return projection;
}
