#pragma once

#include <GL/glew.h>
#include <glm/mat4x4.hpp>

namespace Kest {

// One compiled GL shader object. Lives only inside a program builder.
class Shader {
public:
    GLuint id = 0;

    // Compiles at once; a non-empty info log is printed to standard output.
    Shader(GLenum type, const char* source);
    ~Shader();

    Shader(const Shader&) = delete;
    Shader& operator=(const Shader&) = delete;
};

// One GL program object with the uniform locations the engine writes.
class ShaderProgram {
public:
    GLuint id = 0;
    // 0, not -1, until a builder fills them: an unfilled location uploads to uniform 0.
    GLint transformLocation = 0;
    GLint cameraLocation = 0;
    GLint projectionLocation = 0;
    GLint timeLocation = 0;

    ShaderProgram();
    ~ShaderProgram();

    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;
    // Builders return programs by value; a move hands the GL name over and leaves 0 behind.
    ShaderProgram(ShaderProgram&& other) noexcept;
    ShaderProgram& operator=(ShaderProgram&&) = delete;

    ShaderProgram& attachShader(const Shader& shader);
    ShaderProgram& bindFragDataLocation(int colourNumber, const char* name);
    // Links; a non-empty info log is printed to standard output.
    ShaderProgram& link();
    ShaderProgram& use();
    GLint getAttribLocation(const char* name) const;
    GLint getUniformLocation(const char* name) const;
    // Makes the program current and uploads the projection matrix.
    ShaderProgram& setProjection(const glm::mat4& projection);
};

} // namespace Kest
