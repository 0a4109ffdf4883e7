#include "gl_fallback.h"

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

void fillStaticBuffer(GLenum target, GLuint buffer, GLsizeiptr bytes, const void* data)
{
    if (hasDirectStateAccess())
        glNamedBufferData(buffer, bytes, data, GL_STATIC_DRAW);
    else
        glBufferData(target, bytes, data, GL_STATIC_DRAW);
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

ShadingLanguage platformShadingLanguage()
{
    return ShadingLanguage::glsl330;
}

void bindFragmentOutput(GLuint program, GLuint colourNumber, const char* name)
{
    glBindFragDataLocation(program, colourNumber, name);
}

bool hasFixedFunction()
{
    // Contexts before 3.0 know neither query and always have it.
    GLint flags = 0, profile = 0;
    if (GLEW_VERSION_3_0)
        glGetIntegerv(GL_CONTEXT_FLAGS, &flags);
    if (GLEW_VERSION_3_2)
        glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    return (flags & GL_CONTEXT_FLAG_FORWARD_COMPATIBLE_BIT) == 0 && (profile & GL_CONTEXT_CORE_PROFILE_BIT) == 0;
}

void enableFixedTexturing()
{
    if (hasFixedFunction())
        glEnable(GL_TEXTURE_2D);
}

} // namespace Kest
