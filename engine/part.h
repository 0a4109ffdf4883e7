#pragma once

#include "shader.h"

#include <GL/glew.h>
#include <glm/mat4x4.hpp>

#include <cstddef>
#include <vector>

namespace Kest {

// One owned GL texture.
class Texture {
public:
    // One texture for one draw: entry i of a binding array goes to texture unit i.
    struct Binding {
        GLint location;          // sampler uniform in the drawn part's program
        const Texture* texture;  // not owned; must outlive the draw
    };

    GLuint id = 0;
    GLenum target = GL_TEXTURE_2D;

    Texture() = default;
    ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;
    // Textures are returned by value from their factory; a move leaves 0 behind.
    Texture(Texture&& other) noexcept;
    Texture& operator=(Texture&&) = delete;
};

// One indexed triangle mesh on the GPU with the program that draws it.
class Part {
public:
    using LayoutFunction = void (*)(ShaderProgram&);

    ShaderProgram* program;
    GLuint vertexBuffer = 0;
    GLuint elementBuffer = 0;
    size_t elementCount = 0;
    size_t textureCount = 0;
    GLenum elementType = 0;
    GLuint vertexArray = 0;
    // The initAttributes of the vertex type whose layout vertexArray holds.
    LayoutFunction vertexLayout = nullptr;

    explicit Part(ShaderProgram& program);
    ~Part();
    Part(const Part&) = delete;
    Part& operator=(const Part&) = delete;
    // Takes over the GL names and leaves 0 behind, so a vector of parts may grow.
    Part(Part&& other) noexcept;
    Part& operator=(Part&&) = delete;

    // Uploads vertices of type V (which has a static initAttributes(ShaderProgram&)) and
    // 32-bit indices; the attribute layout is recorded once per vertex type.
    template <typename V>
    void setMesh(const V* vertices, size_t vertexCount, const GLuint* indices, size_t indexCount)
    {
        upload(&V::initAttributes, vertices, vertexCount * sizeof(V), indices, indexCount);
    }
    template <typename V, size_t VertexCount, size_t IndexCount>
    void setMesh(const V (&vertices)[VertexCount], const GLuint (&indices)[IndexCount])
    {
        setMesh(vertices, VertexCount, indices, IndexCount);
    }
    template <typename V>
    void setMesh(const std::vector<V>& vertices, const std::vector<GLuint>& indices)
    {
        setMesh(vertices.data(), vertices.size(), indices.data(), indices.size());
    }

    // Draws with the part's own program, writing transform into its "transform" uniform.
    void drawImpl(const glm::mat4& transform, const Texture::Binding* bindings) const;
    // Draws with whatever program and uniforms the caller has set.
    void drawImpl(const Texture::Binding* bindings) const;

private:
    void upload(LayoutFunction layout, const void* vertexData, size_t vertexBytes,
                const GLuint* indices, size_t indexCount);
    void bindMesh() const;
    void bindTextures(const Texture::Binding* bindings) const;
};

} // namespace Kest
