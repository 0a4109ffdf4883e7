#include "projection.h"

// WebGL has neither GLU nor a fixed-function projection: the programs get the same matrix.
glm::mat4 loadProjection()
{
    return perspectiveMatrix();
}
