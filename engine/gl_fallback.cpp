#include "gl_fallback.h"

#include <GL/glew.h>

namespace Kest {

void setClearDepth(float depth)
{
    if (glClearDepthf != nullptr)
        glClearDepthf(depth);
    else
        glClearDepth(depth);
}

void setDepthRange(float nearValue, float farValue)
{
    if (glDepthRangef != nullptr)
        glDepthRangef(nearValue, farValue);
    else
        glDepthRange(nearValue, farValue);
}

} // namespace Kest
