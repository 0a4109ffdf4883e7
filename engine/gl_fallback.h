#pragma once

// Calls that work on every context from 3.3 up. The newer entry points are used where the
// context says it has them, by its version or an extension; otherwise older calls set the same
// state. The loader's pointers prove nothing: under GLX it hands one out for any name.

namespace Kest {

// OpenGL 4.5 or ARB_direct_state_access: glNamedBufferData and its kin.
bool hasDirectStateAccess();

// glClearDepthf and glDepthRangef with OpenGL 4.1 or ARB_ES2_compatibility, else the
// double-precision calls of OpenGL 1.0.
void setClearDepth(float depth);
// The parameters avoid the names near and far, which Windows headers define as macros.
void setDepthRange(float nearValue, float farValue);

} // namespace Kest
