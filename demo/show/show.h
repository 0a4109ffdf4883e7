#pragma once

// Everything that draws the show, made at start-up and used by every way of watching it: the
// live loop, stills, captures and the benchmark. Construct ShowScene, then (in the live show the
// music,) PassTargets, the target the picture goes to, and PassInputs, in that order; they are
// destroyed in reverse.

#include "choreography.h"
#include "letterbox.h"

#include "engine/gl_fallback.h"
#include "engine/model.h"
#include "engine/part.h"
#include "engine/render_target.h"
#include "engine/shader.h"

#include <GL/glew.h>
#include <glm/mat4x4.hpp>

#include <vector>

// The programs, the scene's parts and model, the screen quads, the projection, and the GL state
// that holds for the whole show.
struct ShowScene {
    Kest::ShaderProgram skyProgram;
    Kest::ShaderProgram hdrProgram;
    Kest::ShaderProgram glitterProgram;
    Kest::ShaderProgram blurProgram;
    Kest::ShaderProgram groundProgram;
    std::vector<Kest::Part> parts; // ground, hub, the seven ring polytopes
    Kest::Part skyPart;
    Kest::Part viewfieldPart;
    Kest::Part bloomfieldPart;
    Kest::Model sceneModel; // over parts: neither may move
    glm::mat4 projection;

    // The programs in the platform's shading language unless told otherwise (a test draws
    // the ES path on desktop GL).
    explicit ShowScene(Kest::ShadingLanguage language = Kest::platformShadingLanguage());
    ShowScene(const ShowScene&) = delete;
    ShowScene& operator=(const ShowScene&) = delete;
};

// The ten instances of the show's model: ground, hub, the ring node and the ring of seven under
// it. Adds no GL object, so tools can build the same hierarchy over no parts.
void addShowInstances(Kest::Model& model);

// The size the off-screen passes render at for a picture drawn from them at `scale` (0 < scale
// <= 1) of its size in each direction; at 1, the picture's own. Never below one pixel.
Letterbox passSize(const Letterbox& picture, double scale);

// The HDR scene target and the two bloom targets, each with its texture, at the size given: the
// picture's, or passSize's. The composite stretches them over the picture.
struct PassTargets {
    Kest::RenderTarget sceneTarget;
    Kest::Texture sceneTexture;
    Kest::RenderTarget blurTargetA;
    Kest::Texture blurTextureA;
    Kest::RenderTarget blurTargetB;
    Kest::Texture blurTextureB;

    explicit PassTargets(const Letterbox& picture);
};

// Reports "Framebuffer not complete!" once when a target cannot be drawn to, then looks up and
// sets the uniforms that stay for the whole show and makes the texture-binding lists.
struct PassInputs {
    GLint exposureLocation;
    Kest::Texture::Binding blurFromScene[1];
    Kest::Texture::Binding blurFromA[1];
    Kest::Texture::Binding blurFromB[1];
    Kest::Texture::Binding compositeInputs[2];

    PassInputs(ShowScene& scene, const PassTargets& targets);
};

// An off-screen picture of any size with the show letterboxed inside it: an RGBA8 framebuffer
// whose bars are black. `target` binds the letterbox rectangle; read the whole framebuffer back,
// or sample its texture (texelFetch: it has no mipmaps).
struct Canvas {
    unsigned width;
    unsigned height;
    GLuint colourTexture = 0;
    Kest::RenderTarget target;

    Canvas(unsigned width, unsigned height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
};

// The passes of one frame, in order, for those who time them; a capture then converts the
// picture to its encoder's pixel format and reads it back, which drawShowFrame leaves to it.
enum class Pass { sky, scene, blur1, blur2, blur3, blur4, blur5, blur6, composite, conversion, readBack, count };
const char* passName(Pass pass);

// Called before (starting = true) and after each pass when given; the live show gives none.
using PassHook = void (*)(void* context, Pass pass, bool starting);
struct PassObserver {
    PassHook hook = nullptr;
    void* context = nullptr;
};

// Places the model for t and, unless the show is over at t, draws the frame into `output`.
// Returns the choreography, whose `over` says whether anything was drawn.
Choreography drawShowFrame(ShowScene& scene, const PassTargets& targets, const PassInputs& inputs,
                           const Kest::RenderTarget& output, float t, PassObserver observer = {});

// The largest picture this GL can render, in either direction.
GLint maximumPictureSize();
