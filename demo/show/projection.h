#pragma once

#include <glm/mat4x4.hpp>

// The scene's perspective: 50° vertical field of view, 16:9, near 0.1, far 1000.

// The matrix gluPerspective multiplies in, by the same formula in double precision, rounded to
// single precision as GL stores it. No GL.
glm::mat4 perspectiveMatrix();

// Sets the projection for the show and returns the matrix the programs get. On desktop GL
// (projection_glu.cpp) the fixed-function projection through GLU, read back from GL, or where
// the context has no fixed function (a core profile) perspectiveMatrix(); in the
// browser (projection_web.cpp), which has neither, perspectiveMatrix().
glm::mat4 loadProjection();
