#include "show.h"

#include "projection.h"

#include "assets/assets.h"
#include "engine/gl_fallback.h"
#include "shaders/shaders.h"

#include <glm/gtc/type_ptr.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr size_t none = Kest::Model::none;

std::vector<Kest::Part> makeSceneParts(Kest::ShaderProgram& groundProgram, Kest::ShaderProgram& glitterProgram,
                                      Kest::ShadingLanguage language)
{
    // Each part is filled before the next is appended. Without a geometry stage the ground
    // program wants every triangle's corners at each of its vertices.
    std::vector<Kest::Part> parts;
    auto* ground = language == Kest::ShadingLanguage::essl300 ? createGroundCorners : createGround;
    ground(parts.emplace_back(groundProgram));
    for (auto* build : {createHub, createGTicosidodeca, createDodecadodeca, createTSI22, createSCO2,
                        createSRTC15, createSRTC35, createTSI28})
        build(parts.emplace_back(glitterProgram));
    return parts;
}

Kest::Part makeQuad(Kest::ShaderProgram& program, Kest::Part& (*fill)(Kest::Part&))
{
    Kest::Part part(program);
    fill(part);
    return part;
}

void setCameraAndTime(Kest::ShaderProgram& program, const glm::mat4& camera, float t)
{
    program.use();
    glUniformMatrix4fv(program.cameraLocation, 1, GL_FALSE, glm::value_ptr(camera));
    glUniform1f(program.timeLocation, t);
}

// Brackets one pass for an observer, if there is one.
class PassScope {
public:
    PassScope(const PassObserver& observer_, Pass pass_)
        : observer(observer_)
        , pass(pass_)
    {
        if (observer.hook != nullptr)
            observer.hook(observer.context, pass, true);
    }
    ~PassScope()
    {
        if (observer.hook != nullptr)
            observer.hook(observer.context, pass, false);
    }
    PassScope(const PassScope&) = delete;
    PassScope& operator=(const PassScope&) = delete;

private:
    const PassObserver& observer;
    Pass pass;
};

void renderFrame(ShowScene& scene, const PassTargets& targets, const PassInputs& inputs,
                 const Kest::RenderTarget& output, const glm::mat4& camera, float exposure, float t,
                 const PassObserver& observer)
{
    {
        // 1. Sky: it covers every pixel, so the scene's colour buffer is never cleared.
        const PassScope timed(observer, Pass::sky);
        targets.sceneTarget.bind();
        glDisable(GL_DEPTH_TEST);
        scene.skyPart.drawImpl(camera, nullptr);
    }
    {
        const PassScope timed(observer, Pass::scene);
        // 2. Depth only.
        glClear(GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);

        // 3. Per-frame uniforms of the scene programs.
        setCameraAndTime(scene.groundProgram, camera, t);
        setCameraAndTime(scene.glitterProgram, camera, t);

        // 4. Ground, hub and ring.
        scene.sceneModel.draw(glm::mat4(1.0f));

        // 5. The rest of the frame is full-screen quads.
        glDisable(GL_DEPTH_TEST);
    }

    // 6. Bloom: three x-then-y pairs ping-ponging between the two targets, the tap spacing
    // doubling from pair to pair. The finished bloom is in blurTextureB.
    scene.blurProgram.use();
    const GLint horizontal = scene.blurProgram.getUniformLocation("horizontal");
    const GLint scale = scene.blurProgram.getUniformLocation("scale");
    struct BlurDraw {
        const Kest::RenderTarget& target;
        GLint horizontal;
        float scale;
        const Kest::Texture::Binding* source;
    };
    const BlurDraw blurDraws[] = {
        {targets.blurTargetA, 0, 1.0f, inputs.blurFromScene}, {targets.blurTargetB, 1, 1.0f, inputs.blurFromA},
        {targets.blurTargetA, 0, 2.0f, inputs.blurFromB},     {targets.blurTargetB, 1, 2.0f, inputs.blurFromA},
        {targets.blurTargetA, 0, 4.0f, inputs.blurFromB},     {targets.blurTargetB, 1, 4.0f, inputs.blurFromA},
    };
    int blurPass = static_cast<int>(Pass::blur1);
    for (const BlurDraw& draw : blurDraws) {
        const PassScope timed(observer, static_cast<Pass>(blurPass++));
        draw.target.bind();
        glUniform1i(horizontal, draw.horizontal);
        glUniform1f(scale, draw.scale);
        scene.bloomfieldPart.drawImpl(draw.source);
    }

    // 7. Composite into the letterbox. The whole output is cleared first so the bars are black,
    // not whatever the window system left in the back buffer.
    const PassScope timed(observer, Pass::composite);
    output.bind();
    glClear(GL_COLOR_BUFFER_BIT);
    scene.hdrProgram.use();
    glUniform1f(inputs.exposureLocation, exposure);
    scene.viewfieldPart.drawImpl(inputs.compositeInputs);
}

} // namespace

ShowScene::ShowScene(Kest::ShadingLanguage language)
    // Programs, then the scene's parts, then the screen quads.
    : skyProgram(Kest::createShader(Kest::Program::sky, language))
    , hdrProgram(Kest::createShader(Kest::Program::hdr, language))
    , glitterProgram(Kest::createShader(Kest::Program::glitter, language))
    , blurProgram(Kest::createShader(Kest::Program::blur, language))
    , groundProgram(Kest::createShader(Kest::Program::ground, language))
    , parts(makeSceneParts(groundProgram, glitterProgram, language))
    , skyPart(makeQuad(skyProgram, createSky))
    , viewfieldPart(makeQuad(hdrProgram, createViewfield))
    , bloomfieldPart(makeQuad(blurProgram, createBloomfield))
    , sceneModel(parts)
{
    addShowInstances(sceneModel);
    projection = loadProjection();

    // GL state that holds for the whole show.
    Kest::enableFixedTexturing();
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    Kest::setClearDepth(1.0f);
    Kest::setDepthRange(0.1f, 1000.0f); // clamped by GL to [0.1, 1]
    glDepthFunc(GL_LESS);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
}

void addShowInstances(Kest::Model& model)
{
    const glm::mat4 identity(1.0f);
    model.addPart(0, identity, none);
    model.addPart(1, identity, none);
    model.addPart(none, identity, none);
    for (size_t j = 0; j < ringSize; ++j)
        model.addPart(2 + j, ringPlacement(j), ringNodeInstance);
}

Letterbox passSize(const Letterbox& picture, double scale)
{
    const auto scaled = [scale](std::uint32_t side) {
        return std::max<std::uint32_t>(1, static_cast<std::uint32_t>(std::lround(side * scale)));
    };
    return scale == 1.0 ? picture : Letterbox{picture.x, picture.y, scaled(picture.width), scaled(picture.height)};
}

PassTargets::PassTargets(const Letterbox& picture)
    : sceneTarget(picture.width, picture.height, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT)
    , sceneTexture(sceneTarget.createHdrBuffer(picture.width, picture.height, 0))
    , blurTargetA(picture.width, picture.height, 0)
    , blurTextureA(blurTargetA.createHdrBuffer(picture.width, picture.height, 0))
    , blurTargetB(picture.width, picture.height, 0)
    , blurTextureB(blurTargetB.createHdrBuffer(picture.width, picture.height, 0))
{
}

PassInputs::PassInputs(ShowScene& scene, const PassTargets& targets)
{
    // Every off-screen target must be complete; report once if any is not.
    bool complete = true;
    for (const Kest::RenderTarget* target : {&targets.sceneTarget, &targets.blurTargetA, &targets.blurTargetB}) {
        glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
        complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE && complete;
    }
    if (!complete) {
        std::printf("Framebuffer not complete!\n");
        std::fflush(stdout);
    }

    // Uniforms that stay: the exposure's location, the projection, the texture bindings.
    exposureLocation = scene.hdrProgram.getUniformLocation("exposure");
    scene.groundProgram.setProjection(scene.projection);
    scene.glitterProgram.setProjection(scene.projection);
    blurFromScene[0] = {scene.blurProgram.getUniformLocation("image"), &targets.sceneTexture};
    blurFromA[0] = {scene.blurProgram.getUniformLocation("image"), &targets.blurTextureA};
    blurFromB[0] = {scene.blurProgram.getUniformLocation("image"), &targets.blurTextureB};
    compositeInputs[0] = {scene.hdrProgram.getUniformLocation("hdrBuffer"), &targets.sceneTexture};
    compositeInputs[1] = {scene.hdrProgram.getUniformLocation("bloomBuffer"), &targets.blurTextureB};
}

Canvas::Canvas(unsigned width_, unsigned height_)
    : width(width_)
    , height(height_)
    , target(width_, height_, 0)
{
    // The target's constructor left its framebuffer bound.
    glGenTextures(1, &colourTexture);
    glBindTexture(GL_TEXTURE_2D, colourTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(width), static_cast<GLsizei>(height), 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colourTexture, 0);

    // The composite draws into the letterbox rectangle only.
    const Letterbox picture = computeLetterbox(width, height);
    target.x = static_cast<std::int32_t>(picture.x);
    target.y = static_cast<std::int32_t>(picture.y);
    target.width = picture.width;
    target.height = picture.height;
}

Canvas::~Canvas()
{
    glDeleteTextures(1, &colourTexture);
}

const char* passName(Pass pass)
{
    static const char* const names[] = {"sky",    "scene",  "blur 1", "blur 2",    "blur 3",     "blur 4",
                                        "blur 5", "blur 6", "composite", "conversion", "read-back"};
    static_assert(std::size(names) == static_cast<size_t>(Pass::count));
    return names[static_cast<size_t>(pass)];
}

Choreography drawShowFrame(ShowScene& scene, const PassTargets& targets, const PassInputs& inputs,
                           const Kest::RenderTarget& output, float t, PassObserver observer)
{
    const Choreography show = choreograph(t);
    for (size_t i = 0; i < movedInstanceCount; ++i)
        scene.sceneModel.setTransform(hubInstance + i, show.instanceTransforms[i]);
    if (!show.over)
        renderFrame(scene, targets, inputs, output, show.camera, show.exposure, t, observer);
    return show;
}

GLint maximumPictureSize()
{
    GLint texture = 0, renderbuffer = 0, viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    return std::min({texture, renderbuffer, viewport[0], viewport[1]});
}
