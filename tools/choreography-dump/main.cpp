// choreography-dump T...: one line per time, "t segment over exposure", then the camera and the
// own transforms of model instances 1 to 9, each as 16 floats in column-major order.
// Every float is printed with 9 significant digits, enough to read back the exact value.
// choreography-dump --shot-middles: the middle of each of the ten shots, in seconds, one line.

#include "show/choreography.h"

#include <glm/mat4x4.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void printMatrix(const glm::mat4& m)
{
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            std::printf(" %.9g", static_cast<double>(m[column][row]));
}

bool parseTime(const char* text, float& t)
{
    char* end = nullptr;
    errno = 0;
    t = std::strtof(text, &end);
    return end != text && *end == '\0' && errno == 0 && std::isfinite(t);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: choreography-dump T... | --shot-middles\n");
        return 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--shot-middles") == 0) {
        for (unsigned shot = 1; shot <= ShowCues::shotCount; ++shot)
            std::printf(shot < ShowCues::shotCount ? "%.1f " : "%.1f\n", ShowCues::shotMiddle(shot));
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        float t;
        if (!parseTime(argv[i], t)) {
            std::fprintf(stderr, "choreography-dump: not a time in seconds: %s\n", argv[i]);
            return 1;
        }
    }
    for (int i = 1; i < argc; ++i) {
        float t = 0.0f;
        parseTime(argv[i], t);
        // Once the show is over it has no camera: the choreography gives the identity and
        // exposure 1 then.
        const Choreography c = choreograph(t);
        std::printf("%.9g %u %d %.9g", static_cast<double>(t), c.segment, c.over ? 1 : 0,
                    static_cast<double>(c.exposure));
        printMatrix(c.camera);
        for (const glm::mat4& transform : c.instanceTransforms)
            printMatrix(transform);
        std::printf("\n");
    }
    return 0;
}
