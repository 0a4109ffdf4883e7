#include "part.h"

#include "gl_fallback.h"

#include <glm/gtc/type_ptr.hpp>

namespace Kest {

Texture::~Texture()
{
    if (id != 0)
        glDeleteTextures(1, &id);
}

Texture::Texture(Texture&& other) noexcept
    : id(other.id)
    , target(other.target)
{
    other.id = 0;
}

Part::Part(ShaderProgram& program_)
    : program(&program_)
{
    glGenBuffers(1, &vertexBuffer);
    glGenBuffers(1, &elementBuffer);
    glGenVertexArrays(1, &vertexArray);
}

Part::Part(Part&& other) noexcept
    : program(other.program)
    , vertexBuffer(other.vertexBuffer)
    , elementBuffer(other.elementBuffer)
    , elementCount(other.elementCount)
    , textureCount(other.textureCount)
    , elementType(other.elementType)
    , vertexArray(other.vertexArray)
    , vertexLayout(other.vertexLayout)
{
    other.vertexBuffer = 0;
    other.elementBuffer = 0;
    other.vertexArray = 0;
}

Part::~Part()
{
    if (vertexArray != 0)
        glDeleteVertexArrays(1, &vertexArray);
    if (elementBuffer != 0)
        glDeleteBuffers(1, &elementBuffer);
    if (vertexBuffer != 0)
        glDeleteBuffers(1, &vertexBuffer);
}

void Part::upload(LayoutFunction layout, const void* vertexData, size_t vertexBytes,
                  const GLuint* indices, size_t indexCount)
{
    glBindVertexArray(vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    if (vertexLayout != layout) {
        layout(*program);
        vertexLayout = layout;
    }
    fillStaticBuffer(GL_ARRAY_BUFFER, vertexBuffer, static_cast<GLsizeiptr>(vertexBytes), vertexData);
    // The vertex array is still bound, so it records the element buffer.
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, elementBuffer);
    elementCount = indexCount;
    fillStaticBuffer(GL_ELEMENT_ARRAY_BUFFER, elementBuffer, static_cast<GLsizeiptr>(indexCount * sizeof(GLuint)),
                     indices);
    elementType = GL_UNSIGNED_INT;
}

void Part::bindMesh() const
{
    glBindVertexArray(vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, elementBuffer);
}

void Part::bindTextures(const Texture::Binding* bindings) const
{
    if (bindings == nullptr)
        return;
    for (size_t unit = 0; unit < textureCount; ++unit) {
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
        glUniform1i(bindings[unit].location, static_cast<GLint>(unit));
        glBindTexture(bindings[unit].texture->target, bindings[unit].texture->id);
    }
}

void Part::drawImpl(const glm::mat4& transform, const Texture::Binding* bindings) const
{
    bindMesh();
    program->use();
    bindTextures(bindings);
    glUniformMatrix4fv(program->transformLocation, 1, GL_FALSE, glm::value_ptr(transform));
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(elementCount), elementType, nullptr);
}

void Part::drawImpl(const Texture::Binding* bindings) const
{
    bindMesh();
    bindTextures(bindings);
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(elementCount), elementType, nullptr);
}

} // namespace Kest
