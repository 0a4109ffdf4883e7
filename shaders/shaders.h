#pragma once

#include "engine/gl_fallback.h"
#include "engine/shader.h"

#include <string>
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

// The five programs for either language, from the same source text: the GLSL 3.30 stages, or
// their ES 3.00 text by toEssl300, where the ground, which has no geometry stage there, is drawn
// from the corners mesh (createGroundCorners) by a vertex stage that does that stage's work.
enum class Program { sky, hdr, blur, glitter, ground };
ShaderProgram createShader(Program which, ShadingLanguage language);

// A GLSL 3.30 stage as GLSL ES 3.00: the version line and high precision; every block between
// stages ("out NAME {...} instance;") as plain variables NAME_member, instance.member renamed
// to match; a uniform with an initialiser as a constant.
std::string toEssl300(const char* glsl330);

// A program's stages in the order its builder compiles and attaches them, each with its GLSL
// text exactly as handed to GL (for ES the text toEssl300 makes).
struct ProgramStage {
    GLenum type; // GL_VERTEX_SHADER, GL_GEOMETRY_SHADER or GL_FRAGMENT_SHADER
    std::string text;
};
std::vector<ProgramStage> programStages(Program which, ShadingLanguage language);

// One stage's GLSL text exactly as its builder hands it to GL.
struct ShaderSource {
    const char* stage; // program and stage, e.g. "ground geometry"
    const char* text;  // a string literal: valid for the whole run
};
// The text of all eleven stages; hdr and blur share the full-screen vertex stage.
std::vector<ShaderSource> shaderSources();

} // namespace Kest
