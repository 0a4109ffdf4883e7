#pragma once

// Depth set-up that works on every context from 3.3 up. The single-precision entry points
// (OpenGL 4.1 or ARB_ES2_compatibility) are used where the loader found them; otherwise the
// double-precision calls of OpenGL 1.0 set the same state.

namespace Kest {

void setClearDepth(float depth);
// The parameters avoid the names near and far, which Windows headers define as macros.
void setDepthRange(float nearValue, float farValue);

} // namespace Kest
