#pragma once

#include "engine/shader.h"

#include <GL/glew.h>

#include <cstdint>

namespace Assets {

// Enables the float attribute `name` of `program` in the bound vertex array and points it at
// `components` floats, `offset` bytes into each `stride`-byte vertex of the bound array buffer.
// A name the program lacks gives -1, which goes to GL unchanged (GL records the error).
inline void enableFloatAttribute(Kest::ShaderProgram& program, const char* name, GLint components,
                                 GLsizei stride, std::uintptr_t offset)
{
    const GLint location = program.getAttribLocation(name);
    glEnableVertexAttribArray(static_cast<GLuint>(location));
    glVertexAttribPointer(static_cast<GLuint>(location), components, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offset));
}

} // namespace Assets
