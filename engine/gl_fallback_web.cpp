#include "gl_fallback.h"

// WebGL 2: OpenGL ES 3.0's fixed set of calls, nothing to ask the context.

namespace Kest {

bool hasDirectStateAccess()
{
    return false;
}

void fillStaticBuffer(GLenum target, GLuint, GLsizeiptr bytes, const void* data)
{
    glBufferData(target, bytes, data, GL_STATIC_DRAW);
}

void setClearDepth(float depth)
{
    glClearDepthf(depth);
}

void setDepthRange(float nearValue, float farValue)
{
    glDepthRangef(nearValue, farValue);
}

ShadingLanguage platformShadingLanguage()
{
    return ShadingLanguage::essl300;
}

void bindFragmentOutput(GLuint, GLuint, const char*)
{
}

bool hasFixedFunction()
{
    return false;
}

void enableFixedTexturing()
{
}

} // namespace Kest
