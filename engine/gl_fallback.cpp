#include "gl_fallback.h"

#include <GL/glew.h>

namespace Kest {

namespace {

bool hasSinglePrecisionDepth()
{
    return GLEW_VERSION_4_1 || GLEW_ARB_ES2_compatibility;
}

} // namespace

bool hasDirectStateAccess()
{
    return GLEW_VERSION_4_5 || GLEW_ARB_direct_state_access;
}

void setClearDepth(float depth)
{
    if (hasSinglePrecisionDepth())
        glClearDepthf(depth);
    else
        glClearDepth(depth);
}

void setDepthRange(float nearValue, float farValue)
{
    if (hasSinglePrecisionDepth())
        glDepthRangef(nearValue, farValue);
    else
        glDepthRange(nearValue, farValue);
}

} // namespace Kest
