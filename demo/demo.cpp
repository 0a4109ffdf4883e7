#include "choreography.h"
#include "gl_version.h"
#include "letterbox.h"
#include "platform.h"
#include "projection.h"

#include "assets.h"
#include "model.h"
#include "music.h"
#include "render_target.h"
#include "shaders.h"

#include <GL/glew.h>
#include <SFML/System/Clock.hpp>
#include <SFML/Window.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <glm/mat4x4.hpp>

#include <cstdio>
#include <vector>

namespace {

constexpr size_t none = Kest::Model::none;

// What one frame draws with, all made at start-up.
struct FrameObjects {
    const Kest::RenderTarget& sceneTarget;
    const Kest::RenderTarget& blurTargetA;
    const Kest::RenderTarget& blurTargetB;
    const Kest::RenderTarget& windowTarget;
    Kest::ShaderProgram& groundProgram;
    Kest::ShaderProgram& glitterProgram;
    Kest::ShaderProgram& blurProgram;
    Kest::ShaderProgram& hdrProgram;
    const Kest::Part& skyPart;
    const Kest::Part& bloomfieldPart;
    const Kest::Part& viewfieldPart;
    Kest::Model& sceneModel;
    const Kest::Texture::Binding* blurFromScene;
    const Kest::Texture::Binding* blurFromA;
    const Kest::Texture::Binding* blurFromB;
    const Kest::Texture::Binding* compositeInputs;
    GLint exposureLocation;
};

void setCameraAndTime(Kest::ShaderProgram& program, const glm::mat4& camera, float t)
{
    program.use();
    glUniformMatrix4fv(program.cameraLocation, 1, GL_FALSE, glm::value_ptr(camera));
    glUniform1f(program.timeLocation, t);
}

void renderFrame(const FrameObjects& frame, const glm::mat4& camera, float exposure, float t)
{
    // 1. Sky: it covers every pixel, so the scene's colour buffer is never cleared.
    frame.sceneTarget.bind();
    glDisable(GL_DEPTH_TEST);
    frame.skyPart.drawImpl(camera, nullptr);

    // 2. Depth only.
    glClear(GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);

    // 3. Per-frame uniforms of the scene programs.
    setCameraAndTime(frame.groundProgram, camera, t);
    setCameraAndTime(frame.glitterProgram, camera, t);

    // 4. Ground, hub and ring.
    frame.sceneModel.draw(glm::mat4(1.0f));

    // 5. The rest of the frame is full-screen quads.
    glDisable(GL_DEPTH_TEST);

    // 6. Bloom: three x-then-y pairs ping-ponging between the two targets, the tap spacing
    // doubling from pair to pair. The finished bloom is in blurTextureB.
    frame.blurProgram.use();
    const GLint horizontal = frame.blurProgram.getUniformLocation("horizontal");
    const GLint scale = frame.blurProgram.getUniformLocation("scale");
    struct BlurDraw {
        const Kest::RenderTarget& target;
        GLuint horizontal;
        float scale;
        const Kest::Texture::Binding* source;
    };
    const BlurDraw blurDraws[] = {
        {frame.blurTargetA, 0, 1.0f, frame.blurFromScene}, {frame.blurTargetB, 1, 1.0f, frame.blurFromA},
        {frame.blurTargetA, 0, 2.0f, frame.blurFromB},     {frame.blurTargetB, 1, 2.0f, frame.blurFromA},
        {frame.blurTargetA, 0, 4.0f, frame.blurFromB},     {frame.blurTargetB, 1, 4.0f, frame.blurFromA},
    };
    for (const BlurDraw& draw : blurDraws) {
        draw.target.bind();
        glUniform1ui(horizontal, draw.horizontal);
        glUniform1f(scale, draw.scale);
        frame.bloomfieldPart.drawImpl(draw.source);
    }

    // 7. Composite into the letterbox. The whole window is cleared first so the bars are black,
    // not whatever the window system left in the back buffer.
    frame.windowTarget.bind();
    glClear(GL_COLOR_BUFFER_BIT);
    frame.hdrProgram.use();
    glUniform1f(frame.exposureLocation, exposure);
    frame.viewfieldPart.drawImpl(frame.compositeInputs);
}

// Everything made after the window lives in here, so that it is released in reverse order of
// construction while the window's context is still current.
void run(sf::Window& window)
{
    // 4. The 16:9 picture and its viewport.
    const sf::Vector2u windowSize = window.getSize();
    const Letterbox picture = computeLetterbox(windowSize.x, windowSize.y);
    glViewport(static_cast<GLint>(picture.x), static_cast<GLint>(picture.y),
               static_cast<GLsizei>(picture.width), static_cast<GLsizei>(picture.height));

    // 5. Programs.
    Kest::ShaderProgram skyProgram = Kest::createSkyShader();
    Kest::ShaderProgram hdrProgram = Kest::createHdrShader();
    Kest::ShaderProgram glitterProgram = Kest::createGlitterShader();
    Kest::ShaderProgram blurProgram = Kest::createBlurShader();
    Kest::ShaderProgram groundProgram = Kest::createGroundShader();

    // 6. The scene's parts, each filled before the next is appended.
    std::vector<Kest::Part> parts;
    createGround(parts.emplace_back(groundProgram));
    for (auto* build : {createHub, createGTicosidodeca, createDodecadodeca, createTSI22, createSCO2,
                        createSRTC15, createSRTC35, createTSI28})
        build(parts.emplace_back(glitterProgram));

    // 7. Screen quads.
    Kest::Part skyPart(skyProgram);
    createSky(skyPart);
    Kest::Part viewfieldPart(hdrProgram);
    createViewfield(viewfieldPart);
    Kest::Part bloomfieldPart(blurProgram);
    createBloomfield(bloomfieldPart);

    // 8. Ground, hub, the ring node, and the ring of seven under it.
    Kest::Model sceneModel(parts);
    const glm::mat4 identity(1.0f);
    sceneModel.addPart(0, identity, none);
    sceneModel.addPart(1, identity, none);
    sceneModel.addPart(none, identity, none);
    for (size_t j = 0; j < ringSize; ++j)
        sceneModel.addPart(2 + j, ringPlacement(j), ringNodeInstance);

    // 9. Projection.
    const glm::mat4 projection = loadProjection();

    // 10. Fixed GL state.
    glEnable(GL_TEXTURE_2D);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearDepthf(1.0f);
    glDepthRangef(0.1f, 1000.0f);
    glDepthFunc(GL_LESS);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);

    // 11.
    glm::mat4 camera(1.0f);

    // 12. The soundtrack starts at once.
    Music soundtrack;

    // 13. Off-screen targets, each followed by its texture.
    Kest::RenderTarget sceneTarget(picture.width, picture.height, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    Kest::Texture sceneTexture = sceneTarget.createHdrBuffer(picture.width, picture.height, 0);
    Kest::RenderTarget blurTargetA(picture.width, picture.height, 0);
    Kest::Texture blurTextureA = blurTargetA.createHdrBuffer(picture.width, picture.height, 0);
    Kest::RenderTarget blurTargetB(picture.width, picture.height, 0);
    Kest::Texture blurTextureB = blurTargetB.createHdrBuffer(picture.width, picture.height, 0);

    // 14. The letterbox rectangle of the window, from the window size read anew.
    const sf::Vector2u windowSizeNow = window.getSize();
    Kest::RenderTarget windowTarget(static_cast<int>((windowSizeNow.x - picture.width) >> 1),
                                    static_cast<int>((windowSizeNow.y - picture.height) >> 1),
                                    picture.width, picture.height);

    // 15. Every off-screen target must be complete; report once if any is not.
    bool complete = true;
    for (const Kest::RenderTarget* target : {&sceneTarget, &blurTargetA, &blurTargetB}) {
        glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
        complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE && complete;
    }
    if (!complete) {
        std::printf("Framebuffer not complete!\n");
        std::fflush(stdout);
    }

    // 16. Uniforms that stay: the exposure's location, the projection, the texture bindings.
    const GLint exposureLocation = hdrProgram.getUniformLocation("exposure");
    groundProgram.setProjection(projection);
    glitterProgram.setProjection(projection);
    const Kest::Texture::Binding blurFromScene[] = {{blurProgram.getUniformLocation("image"), &sceneTexture}};
    const Kest::Texture::Binding blurFromA[] = {{blurProgram.getUniformLocation("image"), &blurTextureA}};
    const Kest::Texture::Binding blurFromB[] = {{blurProgram.getUniformLocation("image"), &blurTextureB}};
    const Kest::Texture::Binding compositeInputs[] = {
        {hdrProgram.getUniformLocation("hdrBuffer"), &sceneTexture},
        {hdrProgram.getUniformLocation("bloomBuffer"), &blurTextureB},
    };
    const FrameObjects frame{sceneTarget, blurTargetA,   blurTargetB,    windowTarget,  groundProgram,
                             glitterProgram, blurProgram, hdrProgram,     skyPart,       bloomfieldPart,
                             viewfieldPart, sceneModel,  blurFromScene,  blurFromA,     blurFromB,
                             compositeInputs, exposureLocation};

    // 17. The clock starts last: its elapsed time is the show's time.
    sf::Clock clock;

    for (;;) {
        sf::Event event;
        bool closed = false;
        while (!closed && window.pollEvent(event))
            closed = event.type == sf::Event::Closed;
        if (closed || sf::Keyboard::isKeyPressed(sf::Keyboard::Escape))
            break;

        const float t = clock.getElapsedTime().asSeconds();
        const Choreography show = choreograph(t);
        for (size_t i = 0; i < movedInstanceCount; ++i)
            sceneModel.setTransform(hubInstance + i, show.instanceTransforms[i]);
        if (show.over)
            break;
        camera = show.camera;

        renderFrame(frame, camera, show.exposure, t);
        window.display();
    }
}

} // namespace

int main()
{
    // The windowing library aborts without a display; end clearly instead.
    const Platform::DisplayConnection display;
    if (!display.available()) {
        std::fprintf(stderr, "demo: no display to open a window on (is DISPLAY set?)\n");
        return 1;
    }

    // 1. Full-screen window at the desktop resolution; default attributes give a
    // compatibility context, which still has the fixed-function matrix stack.
    sf::ContextSettings settings;
    settings.depthBits = 24;
    settings.stencilBits = 8;
    settings.antialiasingLevel = 0;
    settings.majorVersion = 3;
    settings.minorVersion = 0;
    settings.attributeFlags = sf::ContextSettings::Default;
    settings.sRgbCapable = false;
    sf::Window window(sf::VideoMode::getDesktopMode(), "OpenGL", sf::Style::Fullscreen, settings);

    // 2.
    window.setVerticalSyncEnabled(true);
    window.setMouseCursorVisible(false);

    // 3. Entry points beyond GL 1.1.
    glewExperimental = GL_TRUE;
    glewInit();

    const GLVersion version = parseGLVersion(reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    if (!supportsShaders(version)) {
        std::fprintf(stderr, "demo: OpenGL 3.3 or later is needed, but the context is OpenGL %d.%d\n",
                     version.major, version.minor);
        window.close();
        return 1;
    }

    run(window);
    window.close();
    return 0;
}
