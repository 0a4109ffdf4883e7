#include "projection.h"

#include "engine/gl_fallback.h"

#include <GL/glew.h>
#include <GL/glu.h>
#include <glm/gtc/type_ptr.hpp>

glm::mat4 loadProjection()
{
    // A core-profile context has no matrix stack to load: GLU's matrix by its own formula.
    if (!Kest::hasFixedFunction())
        return perspectiveMatrix();
    constexpr float aspect = 16.0f / 9.0f;
    constexpr float nearPlane = 0.1f;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(50.0, aspect, nearPlane, 1000.0);
    glm::mat4 projection(1.0f);
    glGetFloatv(GL_PROJECTION_MATRIX, glm::value_ptr(projection));
    return projection;
}
