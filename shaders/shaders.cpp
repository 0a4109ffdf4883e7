#include "shaders.h"

#include <optional>

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
    // camera[3].xyz * R is the eye position negated: VPos runs from the eye to the vertex.
    vs_out.VPos = P.xyz + camera[3].xyz * mat3(camera);
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
// Ground: heights in the vertex stage, flat facets in the geometry stage, grid in the
// fragment stage.

const char* const groundVertexSource = R"(#version 330
in vec2 position;
out vec3 wPos;

)" GLSL_SCENE_MATRICES
"uniform float time;\n" R"(
float hash1(vec2 p)
{
    p = 50.0 * fract(p * 0.3183099);
    return fract(p.x * p.y * (p.x + p.y));
}

// Value noise on the integer lattice of the plane, in [-1, 1].
float noised(vec2 x)
{
    vec2 p = floor(x);
    vec2 w = x - p;
    vec2 u = )" GLSL_QUINTIC_FADE R"(;

    float a = hash1(p + vec2(0.0, 0.0));
    float b = hash1(p + vec2(1.0, 0.0));
    float c = hash1(p + vec2(0.0, 1.0));
    float d = hash1(p + vec2(1.0, 1.0));

    float k0 = a;
    float k1 = b - a;
    float k2 = c - a;
    float k4 = a - b - c + d;

    return 2.0 * (k0 + k1 * u.x + k2 * u.y + k4 * u.x * u.y) - 1.0;
}

float fbmd(vec2 x)
{
    float sum = 0.0;
    float amplitude = 0.5;
    for (int i = 0; i < 8; ++i) {
        sum += amplitude * noised(x);
        amplitude *= 0.5;
        x = x * 2.0;
    }
    return sum;
}

float terrain(vec2 p)
{
    return 16.0 * fbmd(p / 16.0 + vec2(21.0, 21.0));
}

void main()
{
    float r = 6.0 * length(position);
    // The front leaves the centre at 38.4 s and runs out at 50 units of r per second.
    float gt = (time - 38.4) * 50.0 - r;
    float s = smoothstep(0.0, 30.0, gt);
    float gauss = exp(-0.0008 * r * r);

    vec4 W = transform * vec4(2.0 * position.x, 0.0, 2.0 * position.y, 1.0);
    float h = terrain(W.xz) - 16.0 * cos(0.01 * (r - (1.0 - s) * 60.0));
    // Floors at -10; the pit sinks 9.6 s to 10.2 s after the front has passed.
    W.y = max(h + 4.0 - 4.0 * s, -10.0) - smoothstep(480.0, 510.0, gt) * gauss * 20.0;

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

void main()
{
    vec3 N = normalize(cross(wPos[1] - wPos[0], wPos[2] - wPos[0]));
    vec3 camPos = camera[3].xyz * mat3(camera);

    // Three times the centroid, which is where the vertex stage's r puts the front.
    vec2 centre = wPos[0].xz + wPos[1].xz + wPos[2].xz;
    float gt = (time - 38.4) * 50.0 - length(centre);
    vec3 col = mix(vec3(0.5, 0.3, 0.1), vec3(0.05, 0.05, 0.05), smoothstep(0.0, 10.0, gt));

    vec3 uv = vec3(1.0, 0.0, 0.0);
    for (int i = 0; i < 3; ++i) {
        gl_Position = gl_in[i].gl_Position;
        gs_out.vPos = wPos[i] + camPos;
        gs_out.gPos = wPos[i].xz;
        gs_out.uv = uv;
        gs_out.normal = N;
        gs_out.dcol = col;
        EmitVertex();
        uv = uv.yzx;
    }
    EndPrimitive();
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

// Every builder's steps: compile vertex, geometry (where there is one) and fragment stage,
// attach them in that order, bind the fragment output to colour number 0, link, cache the
// locations. The shaders are locals: they go in reverse order once the program is built.
ShaderProgram buildProgram(const char* vertexSource, const char* geometrySource,
                           const char* fragmentSource, const char* outputName,
                           CachedUniforms cached)
{
    Shader vertex(GL_VERTEX_SHADER, vertexSource);
    std::optional<Shader> geometry;
    if (geometrySource != nullptr)
        geometry.emplace(GL_GEOMETRY_SHADER, geometrySource);
    Shader fragment(GL_FRAGMENT_SHADER, fragmentSource);
    ShaderProgram program;
    program.attachShader(vertex);
    if (geometry)
        program.attachShader(*geometry);
    program.attachShader(fragment);
    program.bindFragDataLocation(0, outputName);
    program.link();
    if (cached != CachedUniforms::none)
        program.transformLocation = program.getUniformLocation("transform");
    if (cached == CachedUniforms::all) {
        program.cameraLocation = program.getUniformLocation("camera");
        program.projectionLocation = program.getUniformLocation("projection");
        program.timeLocation = program.getUniformLocation("time");
    }
    return program;
}

} // namespace

ShaderProgram createSkyShader()
{
    return buildProgram(skyVertexSource, nullptr, skyFragmentSource, "outColour",
                        CachedUniforms::transform);
}

ShaderProgram createHdrShader()
{
    return buildProgram(fullScreenVertexSource, nullptr, hdrFragmentSource, "outColour",
                        CachedUniforms::none);
}

ShaderProgram createBlurShader()
{
    return buildProgram(fullScreenVertexSource, nullptr, blurFragmentSource, "FragColor",
                        CachedUniforms::none);
}

ShaderProgram createGlitterShader()
{
    return buildProgram(glitterVertexSource, nullptr, glitterFragmentSource, "outColour",
                        CachedUniforms::all);
}

ShaderProgram createGroundShader()
{
    return buildProgram(groundVertexSource, groundGeometrySource, groundFragmentSource,
                        "outColour", CachedUniforms::all);
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
    };
}

} // namespace Kest
