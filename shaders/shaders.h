#pragma once

#include "engine/shader.h"

#include <vector>

namespace Kest {

// Builders of the demo's five GLSL programs. Each compiles its constant source text, links
// it and returns the program with the uniform locations the engine writes already cached.
// All need a current OpenGL 3.3 context with GLEW initialised.

// Stars, nebula and the glow towards the light; "transform" takes the view matrix.
ShaderProgram createSkyShader();
// Composite of scene and bloom: soft bloom, exposure tone mapping, gamma 2.2, vignette.
ShaderProgram createHdrShader();
// One axis of the separable nine-tap bloom blur.
ShaderProgram createBlurShader();
// The polytopes: flat colours, glittering normals, sparkle and the timed flash.
ShaderProgram createGlitterShader();
// The terrain: height field, wave front, flat facets and the timed grid.
ShaderProgram createGroundShader();

// One stage's GLSL text exactly as its builder hands it to GL.
struct ShaderSource {
    const char* stage; // program and stage, e.g. "ground geometry"
    const char* text;  // a string literal: valid for the whole run
};
// The text of all ten stages; hdr and blur share the full-screen vertex stage.
std::vector<ShaderSource> shaderSources();

} // namespace Kest
