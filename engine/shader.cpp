#include "shader.h"

#include "gl_fallback.h"

#include <glm/gtc/type_ptr.hpp>

#include <cstdio>
#include <vector>

namespace Kest {

namespace {

// The driver reports warnings as well as errors, so any non-empty log is shown.
template <typename GetLog>
void printInfoLog(GLint length, GetLog getLog)
{
    if (length <= 0)
        return;
    std::vector<char> log(static_cast<size_t>(length) + 1, '\0');
    getLog(length, log.data());
    std::printf("%s\n", log.data());
}

} // namespace

Shader::Shader(GLenum type, const char* source)
{
    id = glCreateShader(type);
    glShaderSource(id, 1, &source, nullptr);
    glCompileShader(id);
    GLint status = 0;
    GLint length = 0;
    glGetShaderiv(id, GL_COMPILE_STATUS, &status);
    glGetShaderiv(id, GL_INFO_LOG_LENGTH, &length);
    printInfoLog(length, [this](GLint n, char* out) { glGetShaderInfoLog(id, n, nullptr, out); });
}

Shader::~Shader()
{
    glDeleteShader(id);
}

ShaderProgram::ShaderProgram()
{
    id = glCreateProgram();
}

ShaderProgram::ShaderProgram(ShaderProgram&& other) noexcept
    : id(other.id)
    , transformLocation(other.transformLocation)
    , cameraLocation(other.cameraLocation)
    , projectionLocation(other.projectionLocation)
    , timeLocation(other.timeLocation)
{
    other.id = 0;
}

ShaderProgram::~ShaderProgram()
{
    // Deleting name 0 is a no-op in GL, so a moved-from program deletes nothing.
    glDeleteProgram(id);
}

ShaderProgram& ShaderProgram::attachShader(const Shader& shader)
{
    glAttachShader(id, shader.id);
    return *this;
}

ShaderProgram& ShaderProgram::bindFragDataLocation(int colourNumber, const char* name)
{
    bindFragmentOutput(id, static_cast<GLuint>(colourNumber), name);
    return *this;
}

ShaderProgram& ShaderProgram::link()
{
    glLinkProgram(id);
    GLint status = 0;
    GLint length = 0;
    glGetProgramiv(id, GL_LINK_STATUS, &status);
    glGetProgramiv(id, GL_INFO_LOG_LENGTH, &length);
    printInfoLog(length, [this](GLint n, char* out) { glGetProgramInfoLog(id, n, nullptr, out); });
    return *this;
}

ShaderProgram& ShaderProgram::use()
{
    glUseProgram(id);
    return *this;
}

GLint ShaderProgram::getAttribLocation(const char* name) const
{
    return glGetAttribLocation(id, name);
}

GLint ShaderProgram::getUniformLocation(const char* name) const
{
    return glGetUniformLocation(id, name);
}

ShaderProgram& ShaderProgram::setProjection(const glm::mat4& projection)
{
    use();
    glUniformMatrix4fv(projectionLocation, 1, GL_FALSE, glm::value_ptr(projection));
    return *this;
}

} // namespace Kest
