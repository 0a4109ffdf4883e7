// shader-bench: GPU time of one full-picture pass of each of the five programs at 1280x720,
// rendered into half-float targets as the frame passes do. Each pass is timed REPEATS times,
// both with a GL_TIME_ELAPSED query and as wall time between two glFinish calls; the medians
// are printed. Needs an X display (run it through scripts/services.sh on a headless machine).
// On llvmpipe the time query covers little of the work, which its rasteriser threads do
// later; there the glFinish-bracketed wall time is the number to read.

#include "engine/part.h"
#include "engine/render_target.h"
#include "shaders/shaders.h"

#include <SFML/Window/Context.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr unsigned width = 1280;
constexpr unsigned height = 720;
constexpr int warmUps = 3;
constexpr int repeats = 15;

struct QuadVertex {
    float position[2];
    static void initAttributes(Kest::ShaderProgram& program)
    {
        GLint location = program.getAttribLocation("position");
        glEnableVertexAttribArray(static_cast<GLuint>(location));
        glVertexAttribPointer(static_cast<GLuint>(location), 2, GL_FLOAT, GL_FALSE, sizeof(QuadVertex), nullptr);
    }
};

struct SolidVertex {
    float position[3];
    float normal[3];
    float colour[3];
    static void initAttributes(Kest::ShaderProgram& program)
    {
        const char* names[] = {"position", "normal", "colour"};
        for (int i = 0; i < 3; ++i) {
            GLint location = program.getAttribLocation(names[i]);
            glEnableVertexAttribArray(static_cast<GLuint>(location));
            glVertexAttribPointer(static_cast<GLuint>(location), 3, GL_FLOAT, GL_FALSE, sizeof(SolidVertex),
                                  reinterpret_cast<const void*>(sizeof(float) * 3 * i));
        }
    }
};

void fillQuad(Kest::Part& part, float low, float high)
{
    const QuadVertex vertices[] = {{{low, low}}, {{high, low}}, {{low, high}}, {{high, high}}};
    const GLuint elements[] = {0, 1, 2, 2, 1, 3};
    part.setMesh(vertices, elements);
}

// A lattice of 128 x 96 cells of two triangles each (24576 triangles, as many as the ground),
// spanning +-64 x +-48 of the ground's plane.
void fillLattice(Kest::Part& part)
{
    const int columns = 128;
    const int rows = 96;
    std::vector<QuadVertex> vertices;
    std::vector<GLuint> elements;
    for (int r = 0; r <= rows; ++r)
        for (int c = 0; c <= columns; ++c)
            vertices.push_back({{static_cast<float>(c - columns / 2), static_cast<float>(r - rows / 2)}});
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            GLuint a = static_cast<GLuint>(r * (columns + 1) + c);
            GLuint b = a + static_cast<GLuint>(columns + 1);
            elements.insert(elements.end(), {a, b, a + 1, a + 1, b, b + 1});
        }
    }
    part.setMesh(vertices, elements);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void measure(const char* name, const std::function<void()>& pass)
{
    GLuint query = 0;
    glGenQueries(1, &query);
    for (int i = 0; i < warmUps; ++i)
        pass();
    glFinish();
    std::vector<double> gpu;
    std::vector<double> wall;
    for (int i = 0; i < repeats; ++i) {
        glFinish();
        auto start = std::chrono::steady_clock::now();
        glBeginQuery(GL_TIME_ELAPSED, query);
        pass();
        glEndQuery(GL_TIME_ELAPSED);
        glFinish();
        auto end = std::chrono::steady_clock::now();
        GLuint64 nanoseconds = 0;
        glGetQueryObjectui64v(query, GL_QUERY_RESULT, &nanoseconds);
        gpu.push_back(static_cast<double>(nanoseconds) * 1e-6);
        wall.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    glDeleteQueries(1, &query);
    std::printf("%-34s %10.2f ms %10.2f ms\n", name, median(gpu), median(wall));
}

} // namespace

int main()
{
    sf::ContextSettings settings(24, 8, 0, 3, 0);
    sf::Context context(settings, width, height);
    context.setActive(true);
    glewExperimental = GL_TRUE;
    if (glewInit() != GLEW_OK) {
        std::printf("shader-bench: no GL entry points\n");
        return 1;
    }
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::printf("picture %ux%u, median of %d passes\n", width, height, repeats);
    std::printf("%-34s %13s %13s\n", "pass", "time query", "glFinish wall");

    Kest::ShaderProgram sky = Kest::createSkyShader();
    Kest::ShaderProgram hdr = Kest::createHdrShader();
    Kest::ShaderProgram glitter = Kest::createGlitterShader();
    Kest::ShaderProgram blur = Kest::createBlurShader();
    Kest::ShaderProgram ground = Kest::createGroundShader();

    Kest::RenderTarget sceneTarget(width, height, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    Kest::Texture sceneTexture = sceneTarget.createHdrBuffer(width, height, 0);
    Kest::RenderTarget bloomTarget(width, height, 0);
    Kest::Texture bloomTexture = bloomTarget.createHdrBuffer(width, height, 0);
    Kest::RenderTarget outputTarget(width, height, 0);
    Kest::Texture outputTexture = outputTarget.createHdrBuffer(width, height, 0);

    // Inputs of the post-processing passes: a sky picture and a copy of it as bloom.
    Kest::Part skyQuad(sky);
    fillQuad(skyQuad, -1.0f, 1.0f);
    const glm::mat4 view = glm::rotate(glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, -32.0f)), -4.0f,
                                       glm::vec3(0.0f, 1.0f, 0.0f));
    sceneTarget.bind();
    skyQuad.drawImpl(view, nullptr);
    bloomTarget.bind();
    skyQuad.drawImpl(view, nullptr);

    glDisable(GL_DEPTH_TEST);
    measure("sky", [&] {
        outputTarget.bind();
        skyQuad.drawImpl(view, nullptr);
    });

    Kest::Part viewfield(hdr);
    fillQuad(viewfield, 0.0f, 1.0f);
    viewfield.textureCount = 2;
    const Kest::Texture::Binding compositeInputs[] = {{hdr.getUniformLocation("hdrBuffer"), &sceneTexture},
                                                      {hdr.getUniformLocation("bloomBuffer"), &bloomTexture}};
    measure("hdr composite", [&] {
        outputTarget.bind();
        hdr.use();
        glUniform1f(hdr.getUniformLocation("exposure"), 1.0f);
        viewfield.drawImpl(compositeInputs);
    });

    Kest::Part bloomfield(blur);
    fillQuad(bloomfield, 0.0f, 1.0f);
    bloomfield.textureCount = 1;
    const Kest::Texture::Binding blurInput[] = {{blur.getUniformLocation("image"), &sceneTexture}};
    for (GLuint horizontal : {0u, 1u}) {
        measure(horizontal ? "blur, along y, scale 4" : "blur, along x, scale 1", [&] {
            outputTarget.bind();
            blur.use();
            glUniform1ui(blur.getUniformLocation("horizontal"), horizontal);
            glUniform1f(blur.getUniformLocation("scale"), horizontal ? 4.0f : 1.0f);
            bloomfield.drawImpl(blurInput);
        });
    }

    // Glitter over every pixel: a quad whose world corners are clip space's, seen through a
    // projection that undoes the camera.
    Kest::Part solid(glitter);
    const SolidVertex solidVertices[] = {
        {{-1, -1, 0}, {0.05f, 0.4f, 0.9f}, {0.8f, 0.5f, 0.3f}},
        {{1, -1, 0}, {0.05f, 0.4f, 0.9f}, {0.8f, 0.5f, 0.3f}},
        {{-1, 1, 0}, {0.05f, 0.4f, 0.9f}, {0.8f, 0.5f, 0.3f}},
        {{1, 1, 0}, {0.05f, 0.4f, 0.9f}, {0.8f, 0.5f, 0.3f}},
    };
    const GLuint solidElements[] = {0, 1, 2, 2, 1, 3};
    solid.setMesh(solidVertices, solidElements);
    const glm::mat4 solidCamera = glm::lookAt(glm::vec3(0.0f, 1.1f, 2.8f), glm::vec3(0.0f), glm::vec3(0.0f, 1.0f, 0.0f));
    glitter.setProjection(glm::inverse(solidCamera));
    glUniformMatrix4fv(glitter.cameraLocation, 1, GL_FALSE, glm::value_ptr(solidCamera));
    glUniform1f(glitter.timeLocation, 60.0f);
    measure("glitter, whole picture", [&] {
        outputTarget.bind();
        solid.drawImpl(glm::mat4(1.0f), nullptr);
    });

    // The terrain from straight above, filling the picture.
    Kest::Part terrain(ground);
    fillLattice(terrain);
    const glm::mat4 groundCamera =
        glm::lookAt(glm::vec3(0.0f, 100.0f, 0.0f), glm::vec3(0.0f), glm::vec3(0.0f, 0.0f, -1.0f));
    ground.setProjection(glm::ortho(-128.0f, 128.0f, -72.0f, 72.0f, 1.0f, 300.0f));
    glUniformMatrix4fv(ground.cameraLocation, 1, GL_FALSE, glm::value_ptr(groundCamera));
    glUniform1f(ground.timeLocation, 60.0f);
    glEnable(GL_DEPTH_TEST);
    measure("ground, 24576 triangles", [&] {
        sceneTarget.bind();
        glClear(GL_DEPTH_BUFFER_BIT);
        terrain.drawImpl(glm::mat4(1.0f), nullptr);
    });
    glDisable(GL_DEPTH_TEST);
    return 0;
}
