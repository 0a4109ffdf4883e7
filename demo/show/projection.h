#pragma once

#include <glm/mat4x4.hpp>

// Sets the fixed-function projection to the scene's perspective (50° vertical field of view,
// 16:9, near 0.1, far 1000) through GLU and returns the matrix GL holds.
glm::mat4 loadProjection();
