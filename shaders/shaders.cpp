#include "shaders.h"

#include <cctype>
#include <optional>
#include <string>

namespace Kest {

namespace {

// ---------------------------------------------------------------------------------------
// GLSL that more than one stage uses, held once. The pieces are macros so that every stage
// stays a single string literal, joined by the compiler.

// Direction towards the light, shared by the sky, the glitter and the ground.
#define GLSL_LIGHT_DIRECTION "normalize(vec3(0.0, 2.0, 5.0))"

// The matrices of the scene programs' vertex stages, as the engine caches them.
#define GLSL_SCENE_MATRICES \
    "uniform mat4 transform;\n" \
    "uniform mat4 camera;\n" \
    "uniform mat4 projection;\n"

// The eye's position in world space, from the view matrix "camera" (R and its translation):
// camera[3].xyz * R is the eye position negated.
#define GLSL_EYE_NEGATED "camera[3].xyz * mat3(camera)"

// Quintic fade of the lattice noises: 6w^5 - 15w^4 + 10w^3.
#define GLSL_QUINTIC_FADE "w * w * w * (w * (w * 6.0 - 15.0) + 10.0)"

// Hash of a lattice index; the sky and the glitter each give their own constant K.
#define GLSL_HASH1(K) \
    "float hash1(float n)\n" \
    "{\n" \
    "    return fract(n * " K " * fract(n * 0.3183099));\n" \
    "}\n"

// The cell of the 3D lattice around x: corner p, fraction w and faded weights u.
#define GLSL_LATTICE_CELL \
    "    vec3 p = floor(x);\n" \
    "    vec3 w = fract(x);\n" \
    "    vec3 u = " GLSL_QUINTIC_FADE ";\n"

// The hashed values a to h at the cell's eight corners.
#define GLSL_LATTICE_CORNERS \
    "    float n = p.x + 317.0 * p.y + 157.0 * p.z;\n" \
    "    float a = hash1(n + 0.0);\n" \
    "    float b = hash1(n + 1.0);\n" \
    "    float c = hash1(n + 317.0);\n" \
    "    float d = hash1(n + 318.0);\n" \
    "    float e = hash1(n + 157.0);\n" \
    "    float f = hash1(n + 158.0);\n" \
    "    float g = hash1(n + 474.0);\n" \
    "    float h = hash1(n + 475.0);\n"

// Coefficients of the trilinear blend of the corner values (k0 is a itself).
#define GLSL_BLEND_COEFFICIENTS \
    "    float k1 = b - a;\n" \
    "    float k2 = c - a;\n" \
    "    float k3 = e - a;\n" \
    "    float k4 = a - b - c + d;\n" \
    "    float k5 = a - c - e + g;\n" \
    "    float k6 = a - b - e + f;\n" \
    "    float k7 = -a + b + c - d + e - f - g + h;\n"

// The glitter's vertex-to-fragment block; each side adds its own instance name.
#define GLSL_VS_OUT_BLOCK \
    "VS_OUT {\n" \
    "    vec3 Normal;\n" \
    "    vec3 Colour;\n" \
    "    vec3 LPos;\n" \
    "    vec3 VPos;\n" \
    "}"

// The ground's geometry-to-fragment block; each side adds its own instance name.
#define GLSL_GS_OUT_BLOCK \
    "GS_OUT {\n" \
    "    vec3 vPos;\n" \
    "    vec2 gPos;\n" \
    "    vec3 uv;\n" \
    "    vec3 normal;\n" \
    "    vec3 dcol;\n" \
    "}"

// ---------------------------------------------------------------------------------------
// Post-processing: both programs draw a quad over the unit square.

const char* const fullScreenVertexSource = R"(#version 330
in vec2 position;
out vec2 TexCoords;

void main()
{
    TexCoords = position;
    gl_Position = vec4(2.0 * position.x - 1.0, 2.0 * position.y - 1.0, 0.0, 1.0);
}
)";

const char* const hdrFragmentSource = R"(#version 330 core
in vec2 TexCoords;
out vec4 outColour;

uniform sampler2D hdrBuffer;
uniform sampler2D bloomBuffer;
uniform float exposure;

void main()
{
    vec3 hdr = texture(hdrBuffer, TexCoords).rgb * 0.9;
    vec3 bloom = texture(bloomBuffer, TexCoords).rgb * 0.1;
    // Soft bloom: grows like bloom^2/4 when faint and like (bloom - 1)/2 when bright.
    hdr = hdr + 0.5 * (bloom + exp(-bloom) - 1.0);
    vec3 mapped = vec3(1.0) - exp(-hdr * exposure);
    mapped = pow(mapped, vec3(1.0 / 2.2));
    // Vignette measured in picture widths, so it falls off alike in x and y on 16:9.
    vec2 c = vec2(TexCoords.x - 0.5, (TexCoords.y - 0.5) * (9.0 / 16.0));
    mapped = mapped * exp(-2.0 * (c.x * c.x + c.y * c.y));
    outColour = vec4(mapped, 1.0);
}
)";

const char* const blurFragmentSource = R"(#version 330 core
in vec2 TexCoords;
out vec4 FragColor;

uniform sampler2D image;
uniform float scale;
uniform bool horizontal;
uniform float weight[5] = float[](0.227027, 0.1945946, 0.1216216, 0.054054, 0.016216);

void main()
{
    // Taps are spaced in texels of a 1280x720 picture whatever the size of image.
    vec2 tex_offset = scale / vec2(1280.0, 720.0);
    vec3 result = texture(image, TexCoords).rgb * weight[0];
    if (!horizontal) {
        for (int i = 1; i < 5; ++i) {
            vec2 offset = vec2(float(i) * tex_offset.x, 0.0);
            result += (texture(image, TexCoords + offset).rgb + texture(image, TexCoords - offset).rgb) * weight[i];
        }
    } else {
        for (int i = 1; i < 5; ++i) {
            vec2 offset = vec2(0.0, float(i) * tex_offset.y);
            result += (texture(image, TexCoords + offset).rgb + texture(image, TexCoords - offset).rgb) * weight[i];
        }
    }
    FragColor = vec4(result, 1.0);
}
)";

// ---------------------------------------------------------------------------------------
// Sky: the quad spans clip space; Ray is the opposite of each pixel's world view direction.

const char* const skyVertexSource = R"(#version 330
in vec2 position;
out vec3 Ray;

uniform mat4 transform;

void main()
{
    // 16/9 is the picture aspect and 2.1445 = 1/tan(25 degrees), half the vertical field.
    vec2 scaled = vec2(position.x * (16.0 / 9.0), position.y);
    // Row vector times the rotation: the transpose undoes the view rotation.
    Ray = vec3(-scaled.x, -scaled.y, 2.1445) * mat3(transform);
    gl_Position = vec4(position.x, position.y, 0.0, 1.0);
}
)";

const char* const skyFragmentSource = R"(#version 330
in vec3 Ray;
out vec4 outColour;

// Orthonormal rotation between octaves, given column by column.
const mat3 m3 = mat3( 0.00,  0.80,  0.60,
                     -0.80,  0.36, -0.48,
                     -0.60, -0.48,  0.64);

)" GLSL_HASH1("19.17") R"(
// Value noise on the integer lattice with quintic fade, in [-1, 1].
float noise(vec3 x)
{
)" GLSL_LATTICE_CELL
"\n"
GLSL_LATTICE_CORNERS
"\n"
"    float k0 = a;\n"
GLSL_BLEND_COEFFICIENTS R"(
    return 2.0 * (k0 + k1 * u.x + k2 * u.y + k3 * u.z + k4 * u.x * u.y + k5 * u.y * u.z
                  + k6 * u.z * u.x + k7 * u.x * u.y * u.z) - 1.0;
}

float fbmd(vec3 x)
{
    float sum = 0.0;
    float amplitude = 0.35;
    for (int i = 0; i < 5; ++i) {
        sum += amplitude * noise(x);
        amplitude *= 0.35;
        x = 1.92 * (m3 * x);
    }
    return sum;
}

void main()
{
    vec3 lightPos1 = -)" GLSL_LIGHT_DIRECTION R"(;
    vec3 ray = normalize(Ray);
    float stars = fbmd(120.0 * ray);
    float nebula = fbmd(5.0 * ray) + 0.5;
    vec3 colour = vec3(0.6, 0.8, 1.0) * max(0.0, 14.0 * stars - 5.0) * 1000.0;
    colour = colour + vec3(5.0, 3.0, 1.0) * max(0.0, nebula)
           + 100.0 * pow(max(0.0, dot(lightPos1, ray)), 10.0);
    outColour = vec4(colour, 1.0);
}
)";

// ---------------------------------------------------------------------------------------
// Glitter: the polytopes.

const char* const glitterVertexSource = R"(#version 330
in vec3 position;
in vec3 normal;
in vec3 colour;

out )" GLSL_VS_OUT_BLOCK R"( vs_out;

)" GLSL_SCENE_MATRICES R"(
void main()
{
    // Deliberately no inverse transpose or normalisation: scaling weakens the glitter.
    vs_out.Normal = mat3(transform) * normal;
    vec4 P = transform * vec4(position, 1.0);
    // Model space, so the pattern sticks to the solid however it moves.
    vs_out.LPos = position;
    // VPos runs from the eye to the vertex.
    vs_out.VPos = P.xyz + )" GLSL_EYE_NEGATED R"(;
    vs_out.Colour = colour;
    gl_Position = projection * camera * P;
}
)";

const char* const glitterFragmentSource = R"(#version 330
in )" GLSL_VS_OUT_BLOCK R"( fs_in;

out vec4 outColour;

uniform float time;

)" GLSL_HASH1("17.135") R"(
// Analytic gradient of the lattice value noise.
vec3 noised(vec3 x)
{
)" GLSL_LATTICE_CELL
"    vec3 du = 30.0 * w * w * (w * (w - 2.0) + 1.0);\n"
"\n"
GLSL_LATTICE_CORNERS
"\n"
GLSL_BLEND_COEFFICIENTS R"(
    return 2.0 * du * vec3(k1 + k4 * u.y + k6 * u.z + k7 * u.y * u.z,
                           k2 + k5 * u.z + k4 * u.x + k7 * u.z * u.x,
                           k3 + k6 * u.x + k5 * u.y + k7 * u.x * u.y);
}

void main()
{
    vec3 lightPos1 = )" GLSL_LIGHT_DIRECTION R"(;
    vec3 lightCol1 = vec3(1.2, 1.2, 1.2);
    vec3 ambient = vec3(0.04, 0.02, 0.0);

    vec3 glitter = normalize(fs_in.Normal + 0.1 * noised(32.0 * fs_in.LPos));
    lightCol1 = lightCol1 * max(0.0, dot(glitter, lightPos1));
    vec3 specular = reflect(normalize(fs_in.VPos), glitter);
    // Weighted by the diffuse light, so faces turned away never sparkle.
    vec3 sparkle = lightCol1 * pow(max(0.0, dot(specular, lightPos1)), 16.0);

    // The flash at 67.2 s; the branch keeps exp from overflowing before it.
    float t = time - 67.2;
    vec3 glow = vec3(0.0);
    if (t >= 0.0)
        glow = vec3(100.0, 90.0, 10.0) * exp(-9.6 * t);

    vec3 shade = (lightCol1 + ambient) * fs_in.Colour + sparkle + glow;
    outColour = vec4(shade, 1.0);
}
)";

// ---------------------------------------------------------------------------------------
// Ground: heights in the vertex stage, flat facets in the geometry stage (or, without one,
// all in the vertex stage), grid in the fragment stage.

// The ground's height field: value noise on the lattice of the plane, its octaves, and the
// point groundPoint(position) of the lattice vertex at `position` in world space at "time",
// with the wave front and the pit.
#define GLSL_GROUND_POINT \
    "float hash1(vec2 p)\n" \
    "{\n" \
    "    p = 50.0 * fract(p * 0.3183099);\n" \
    "    return fract(p.x * p.y * (p.x + p.y));\n" \
    "}\n" \
    "\n" \
    "// Value noise on the integer lattice of the plane, in [-1, 1].\n" \
    "float noised(vec2 x)\n" \
    "{\n" \
    "    vec2 p = floor(x);\n" \
    "    vec2 w = x - p;\n" \
    "    vec2 u = " GLSL_QUINTIC_FADE ";\n" \
    "\n" \
    "    float a = hash1(p + vec2(0.0, 0.0));\n" \
    "    float b = hash1(p + vec2(1.0, 0.0));\n" \
    "    float c = hash1(p + vec2(0.0, 1.0));\n" \
    "    float d = hash1(p + vec2(1.0, 1.0));\n" \
    "\n" \
    "    float k0 = a;\n" \
    "    float k1 = b - a;\n" \
    "    float k2 = c - a;\n" \
    "    float k4 = a - b - c + d;\n" \
    "\n" \
    "    return 2.0 * (k0 + k1 * u.x + k2 * u.y + k4 * u.x * u.y) - 1.0;\n" \
    "}\n" \
    "\n" \
    "float fbmd(vec2 x)\n" \
    "{\n" \
    "    float sum = 0.0;\n" \
    "    float amplitude = 0.5;\n" \
    "    for (int i = 0; i < 8; ++i) {\n" \
    "        sum += amplitude * noised(x);\n" \
    "        amplitude *= 0.5;\n" \
    "        x = x * 2.0;\n" \
    "    }\n" \
    "    return sum;\n" \
    "}\n" \
    "\n" \
    "float terrain(vec2 p)\n" \
    "{\n" \
    "    return 16.0 * fbmd(p / 16.0 + vec2(21.0, 21.0));\n" \
    "}\n" \
    "\n" \
    "vec4 groundPoint(vec2 position)\n" \
    "{\n" \
    "    float r = 6.0 * length(position);\n" \
    "    // The front leaves the centre at 38.4 s and runs out at 50 units of r per second.\n" \
    "    float gt = (time - 38.4) * 50.0 - r;\n" \
    "    float s = smoothstep(0.0, 30.0, gt);\n" \
    "    float gauss = exp(-0.0008 * r * r);\n" \
    "\n" \
    "    vec4 W = transform * vec4(2.0 * position.x, 0.0, 2.0 * position.y, 1.0);\n" \
    "    float h = terrain(W.xz) - 16.0 * cos(0.01 * (r - (1.0 - s) * 60.0));\n" \
    "    // Floors at -10; the pit sinks 9.6 s to 10.2 s after the front has passed.\n" \
    "    W.y = max(h + 4.0 - 4.0 * s, -10.0) - smoothstep(480.0, 510.0, gt) * gauss * 20.0;\n" \
    "    return W;\n" \
    "}\n"

// What a facet of the ground shares: its normal, and its colour from where the front is at
// its centroid; and what each of its corners hands the fragment stage through gs_out.
#define GLSL_GROUND_FACET \
    "void groundFacet(vec3 w0, vec3 w1, vec3 w2, out vec3 N, out vec3 col)\n" \
    "{\n" \
    "    N = normalize(cross(w1 - w0, w2 - w0));\n" \
    "    // Three times the centroid, which is where the vertex stage's r puts the front.\n" \
    "    vec2 centre = w0.xz + w1.xz + w2.xz;\n" \
    "    float gt = (time - 38.4) * 50.0 - length(centre);\n" \
    "    col = mix(vec3(0.5, 0.3, 0.1), vec3(0.05, 0.05, 0.05), smoothstep(0.0, 10.0, gt));\n" \
    "}\n" \
    "\n" \
    "void groundCorner(vec3 w, vec3 uv, vec3 N, vec3 col)\n" \
    "{\n" \
    "    gs_out.vPos = w + " GLSL_EYE_NEGATED ";\n" \
    "    gs_out.gPos = w.xz;\n" \
    "    gs_out.uv = uv;\n" \
    "    gs_out.normal = N;\n" \
    "    gs_out.dcol = col;\n" \
    "}\n"

const char* const groundVertexSource = R"(#version 330
in vec2 position;
out vec3 wPos;

)" GLSL_SCENE_MATRICES
"uniform float time;\n"
"\n"
GLSL_GROUND_POINT R"(
void main()
{
    vec4 W = groundPoint(position);
    wPos = W.xyz;
    gl_Position = projection * camera * W;
}
)";

const char* const groundGeometrySource = R"(#version 330 core
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;

in vec3 wPos[];

out )" GLSL_GS_OUT_BLOCK R"( gs_out;

uniform mat4 camera;
uniform float time;

)" GLSL_GROUND_FACET R"(
void main()
{
    vec3 N, col;
    groundFacet(wPos[0], wPos[1], wPos[2], N, col);
    vec3 uv = vec3(1.0, 0.0, 0.0);
    for (int i = 0; i < 3; ++i) {
        gl_Position = gl_in[i].gl_Position;
        groundCorner(wPos[i], uv, N, col);
        EmitVertex();
        uv = uv.yzx;
    }
    EndPrimitive();
}
)";

// Without a geometry stage (ES): every vertex carries its triangle's three lattice corners and
// its own index among them, computes all three points and does the geometry stage's work.
const char* const groundCornersVertexSource = R"(#version 330
in vec2 corner0;
in vec2 corner1;
in vec2 corner2;
in float cornerIndex;

out )" GLSL_GS_OUT_BLOCK R"( gs_out;

)" GLSL_SCENE_MATRICES
"uniform float time;\n"
"\n"
GLSL_GROUND_POINT
"\n"
GLSL_GROUND_FACET R"(
void main()
{
    vec4 W0 = groundPoint(corner0);
    vec4 W1 = groundPoint(corner1);
    vec4 W2 = groundPoint(corner2);
    vec3 N, col;
    groundFacet(W0.xyz, W1.xyz, W2.xyz, N, col);
    // The barycentrics run (1,0,0), (0,0,1), (0,1,0) over the corners, as the geometry stage
    // emits them.
    int i = int(cornerIndex);
    vec4 W = i == 0 ? W0 : (i == 1 ? W1 : W2);
    vec3 uv = i == 0 ? vec3(1.0, 0.0, 0.0) : (i == 1 ? vec3(0.0, 0.0, 1.0) : vec3(0.0, 1.0, 0.0));
    groundCorner(W.xyz, uv, N, col);
    gl_Position = projection * camera * W;
}
)";

const char* const groundFragmentSource = R"(#version 330
in )" GLSL_GS_OUT_BLOCK R"( fs_in;

out vec4 outColour;

uniform float time;

void main()
{
    vec3 lightPos1 = )" GLSL_LIGHT_DIRECTION R"(;
    vec3 viewRay = normalize(fs_in.vPos);
    vec3 reflectRay = reflect(viewRay, fs_in.normal);
    float specular = pow(max(dot(lightPos1, reflectRay), 0.0), 20.0);
    float diffuse = max(0.0, dot(fs_in.normal, lightPos1));

    // Lines along every triangle edge, from the barycentrics of the geometry stage.
    float grid = 1.0 - smoothstep(0.0, 0.02, min(fs_in.uv.x, min(fs_in.uv.y, fs_in.uv.z)));
    // The grid spreads from 48 s at 4 world units per second, fading in over 1/16 s.
    float gt = (time - 48.0) * 16.0 - 4.0 * length(fs_in.gPos);
    // Bright rings 50 units apart running outwards at 50 units per second.
    float pulse = length(0.02 * fs_in.gPos) - time;
    vec3 gridCol = smoothstep(0.0, 1.0, gt)
                 * (vec3(0.0, 20.0, 200.0) + 800.0 * smoothstep(0.99, 1.0, fract(pulse)));

    vec3 col = fs_in.dcol * diffuse + vec3(1.0, 1.0, 1.0) * specular + gridCol * grid;
    // Alpha 0: nothing reads it, blending is off and the composite uses rgb only.
    outColour = vec4(col, 0.0);
}
)";

// Which of the engine's uniform locations a program caches after linking.
enum class CachedUniforms { none, transform, all };

// One program's stages in GLSL 3.30 (toEssl300 makes the ES text of each).
struct ProgramSources {
    const char* vertex;
    const char* geometry; // null: none
    const char* fragment;
    const char* output;
    CachedUniforms cached;
};

ProgramSources programSources(Program which, ShadingLanguage language)
{
    switch (which) {
    case Program::sky:
        return {skyVertexSource, nullptr, skyFragmentSource, "outColour", CachedUniforms::transform};
    case Program::hdr:
        return {fullScreenVertexSource, nullptr, hdrFragmentSource, "outColour", CachedUniforms::none};
    case Program::blur:
        return {fullScreenVertexSource, nullptr, blurFragmentSource, "FragColor", CachedUniforms::none};
    case Program::glitter:
        return {glitterVertexSource, nullptr, glitterFragmentSource, "outColour", CachedUniforms::all};
    case Program::ground:
        break;
    }
    if (language == ShadingLanguage::essl300)
        return {groundCornersVertexSource, nullptr, groundFragmentSource, "outColour", CachedUniforms::all};
    return {groundVertexSource, groundGeometrySource, groundFragmentSource, "outColour", CachedUniforms::all};
}

bool isIdentifierCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Replaces every `from` in `text` that is not the tail of a longer identifier.
void replaceAfterBoundary(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        if (at > 0 && isIdentifierCharacter(text[at - 1])) {
            at += from.size();
            continue;
        }
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

// Every builder's steps: compile vertex, geometry (where there is one) and fragment stage,
// attach them in that order, bind the fragment output to colour number 0, link, cache the
// locations. The shaders are locals: they go in reverse order once the program is built.
ShaderProgram buildProgram(Program which, ShadingLanguage language)
{
    const ProgramSources sources = programSources(which, language);
    const bool es = language == ShadingLanguage::essl300;
    const std::vector<ProgramStage> stages = programStages(which, language);
    std::optional<Shader> shaders[3];
    for (size_t i = 0; i < stages.size(); ++i)
        shaders[i].emplace(stages[i].type, stages[i].text.c_str());
    ShaderProgram program;
    for (size_t i = 0; i < stages.size(); ++i)
        program.attachShader(*shaders[i]);
    // ES puts the single output at 0 by itself and has no call to bind it.
    if (!es)
        program.bindFragDataLocation(0, sources.output);
    program.link();
    if (sources.cached != CachedUniforms::none)
        program.transformLocation = program.getUniformLocation("transform");
    if (sources.cached == CachedUniforms::all) {
        program.cameraLocation = program.getUniformLocation("camera");
        program.projectionLocation = program.getUniformLocation("projection");
        program.timeLocation = program.getUniformLocation("time");
    }
    return program;
}

} // namespace

std::string toEssl300(const char* glsl330)
{
    std::string text(glsl330);
    // The version line, and the precision ES wants declared; high, as desktop GL computes.
    const size_t versionEnd = text.find('\n');
    text.replace(0, versionEnd, "#version 300 es\nprecision highp float;\nprecision highp int;");

    // Blocks between stages: "in|out NAME {\n  TYPE MEMBER;\n ...} instance;" become one plain
    // variable NAME_MEMBER per member, which both stages then name alike.
    for (const char* qualifier : {"in ", "out "}) {
        for (size_t at = text.find(qualifier); at != std::string::npos; at = text.find(qualifier, at + 1)) {
            if (at > 0 && text[at - 1] != '\n')
                continue;
            const size_t open = text.find(" {\n", at);
            const size_t lineEnd = text.find('\n', at);
            if (open == std::string::npos || open > lineEnd)
                continue;
            const size_t close = text.find('}', open);
            const size_t end = text.find(";\n", close);
            const std::string qual(qualifier);
            const std::string name = text.substr(at + qual.size(), open - at - qual.size());
            const std::string instance = text.substr(close + 2, end - close - 2);
            std::string plain;
            size_t line = open + 3;
            while (line < close) {
                const size_t next = text.find('\n', line);
                const std::string member = text.substr(line, next - line);
                const size_t first = member.find_first_not_of(' ');
                const size_t space = member.find(' ', first);
                const std::string type = member.substr(first, space - first);
                const std::string field = member.substr(space + 1, member.size() - space - 2);
                plain += qual + type + " " + name + "_" + field + ";\n";
                line = next + 1;
            }
            plain.pop_back();
            text.replace(at, end + 1 - at, plain);
            replaceAfterBoundary(text, instance + ".", name + "_");
        }
    }

    // A uniform with an initialiser is a constant to ES (the blur's weights).
    for (size_t at = text.find("\nuniform "); at != std::string::npos; at = text.find("\nuniform ", at + 1)) {
        const size_t lineEnd = text.find('\n', at + 1);
        const size_t equals = text.find(" = ", at);
        if (equals < lineEnd)
            text.replace(at + 1, 7, "const");
    }
    return text;
}

std::vector<ProgramStage> programStages(Program which, ShadingLanguage language)
{
    const ProgramSources sources = programSources(which, language);
    const bool es = language == ShadingLanguage::essl300;
    std::vector<ProgramStage> stages;
    stages.push_back({GL_VERTEX_SHADER, es ? toEssl300(sources.vertex) : sources.vertex});
    if (sources.geometry != nullptr)
        stages.push_back({GL_GEOMETRY_SHADER, sources.geometry});
    stages.push_back({GL_FRAGMENT_SHADER, es ? toEssl300(sources.fragment) : sources.fragment});
    return stages;
}

ShaderProgram createShader(Program which, ShadingLanguage language)
{
    return buildProgram(which, language);
}

ShaderProgram createSkyShader()
{
    return createShader(Program::sky, ShadingLanguage::glsl330);
}

ShaderProgram createHdrShader()
{
    return createShader(Program::hdr, ShadingLanguage::glsl330);
}

ShaderProgram createBlurShader()
{
    return createShader(Program::blur, ShadingLanguage::glsl330);
}

ShaderProgram createGlitterShader()
{
    return createShader(Program::glitter, ShadingLanguage::glsl330);
}

ShaderProgram createGroundShader()
{
    return createShader(Program::ground, ShadingLanguage::glsl330);
}

std::vector<ShaderSource> shaderSources()
{
    return {
        {"full-screen vertex", fullScreenVertexSource},
        {"hdr fragment", hdrFragmentSource},
        {"blur fragment", blurFragmentSource},
        {"sky vertex", skyVertexSource},
        {"sky fragment", skyFragmentSource},
        {"glitter vertex", glitterVertexSource},
        {"glitter fragment", glitterFragmentSource},
        {"ground vertex", groundVertexSource},
        {"ground geometry", groundGeometrySource},
        {"ground fragment", groundFragmentSource},
        {"ground corners vertex", groundCornersVertexSource},
    };
}

} // namespace Kest
