#pragma once

#include <GL/glew.h>

// Calls that work on every context from 3.3 up, and on WebGL 2 (OpenGL ES 3.0). On desktop GL
// the newer entry points are used where the context says it has them, by its version or an
// extension; otherwise older calls set the same state. The loader's pointers prove nothing:
// under GLX it hands one out for any name. One source per platform: gl_fallback.cpp for
// desktop OpenGL, gl_fallback_web.cpp for the browser, which has a fixed feature set.

namespace Kest {

// OpenGL 4.5 or ARB_direct_state_access: glNamedBufferData and its kin.
bool hasDirectStateAccess();
// Static data for `buffer`, which is bound to `target`: through direct state access where the
// context has it, else glBufferData on the target, with the same effect.
void fillStaticBuffer(GLenum target, GLuint buffer, GLsizeiptr bytes, const void* data);

// glClearDepthf and glDepthRangef with OpenGL 4.1 or ARB_ES2_compatibility, else the
// double-precision calls of OpenGL 1.0.
void setClearDepth(float depth);
// The parameters avoid the names near and far, which Windows headers define as macros.
void setDepthRange(float nearValue, float farValue);

// The shading language the programs are written in.
enum class ShadingLanguage {
    glsl330, // desktop OpenGL 3.3: a geometry stage and blocks between stages
    essl300, // OpenGL ES 3.0 and WebGL 2: neither
};
// The one this platform's contexts take.
ShadingLanguage platformShadingLanguage();

// Binds fragment output `name` to colour number `colourNumber`; ES has no such call and puts a
// program's single output at 0 by itself.
void bindFragmentOutput(GLuint program, GLuint colourNumber, const char* name);

// Whether the context still has the fixed-function pipeline (the matrix stacks, glEnable of
// texture targets): a compatibility context does; a core-profile or forward-compatible one, as
// macOS and some drivers give, does not, and raises errors for its calls.
bool hasFixedFunction();

// Fixed-function 2D texturing on, where there is fixed function.
void enableFixedTexturing();

} // namespace Kest
