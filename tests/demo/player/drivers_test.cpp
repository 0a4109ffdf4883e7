// The show's key moments drawn through other OpenGL implementations than llvmpipe's usual
// compatibility context, by the real binary: zink (Mesa's GL over Vulkan, here over lavapipe),
// softpipe (Mesa's plain software rasteriser), and llvmpipe giving only a core profile, as
// macOS and some drivers do. Each still is held to llvmpipe's of the same time and size, and
// each run reports the driver's errors (--gl-errors), any of which fails it.
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace DemoTest;

const std::string demoBinary = DEMO_BINARY;

struct Driver {
    const char* name;
    std::vector<std::string> environment;
    const char* renderer; // what GL_RENDERER starts with there
    int width, height;
    // Pixels of the still allowed more than 2/255 from llvmpipe's in any channel.
    int beyondTwo;
};

// Every run names its driver, so that none of these leaks from the test's own environment.
const std::vector<std::string> llvmpipe = {"LIBGL_ALWAYS_SOFTWARE=1", "GALLIUM_DRIVER=llvmpipe",
                                           "MESA_GL_VERSION_OVERRIDE=", "MESA_GLSL_VERSION_OVERRIDE="};

const Driver zink{"zink",
                  {"LIBGL_ALWAYS_SOFTWARE=1", "GALLIUM_DRIVER=zink", "MESA_GL_VERSION_OVERRIDE=",
                   "MESA_GLSL_VERSION_OVERRIDE="},
                  "zink",
                  320,
                  180,
                  0};
const Driver core{"core",
                  {"LIBGL_ALWAYS_SOFTWARE=1", "GALLIUM_DRIVER=llvmpipe", "MESA_GL_VERSION_OVERRIDE=3.3FC",
                   "MESA_GLSL_VERSION_OVERRIDE=330"},
                  "llvmpipe",
                  320,
                  180,
                  0};
// Sixty times slower than llvmpipe: small and few. It rasterises and interpolates in its own
// way, so a few pixels come out on the other side of a threshold: a facet's or a grid line's
// edge through a pixel centre, or a glitter sparkle (a bright pixel where the interpolated
// normal passes a limit) on or off, with its glow around it. Here 11 and 66 of the 20,736
// pixels; everything else within 2/255.
const Driver softpipe{"softpipe",
                      {"LIBGL_ALWAYS_SOFTWARE=1", "GALLIUM_DRIVER=softpipe", "MESA_GL_VERSION_OVERRIDE=",
                       "MESA_GLSL_VERSION_OVERRIDE="},
                      "softpipe",
                      192,
                      108,
                      100};

struct Case {
    const Driver* driver;
    const char* time;
};

// gtest names a failing case by this, not by the bytes of the pointer and the text.
void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.driver->name << " at " << c.time << " s";
}

// zink is the one driver here that a package of its own brings: lavapipe, Mesa's Vulkan
// software driver.
bool lavapipeInstalled()
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/share/vulkan/icd.d", error))
        if (entry.path().filename().string().rfind("lvp_icd", 0) == 0)
            return true;
    return false;
}

Exit runDemo(const std::vector<std::string>& environment, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), demoBinary);
    arguments.push_back("--gl-errors");
    DemoProcess demo(demoBinary, environment, arguments);
    return demo.wait(600.0);
}

// The line the benchmark prints after "label: ".
std::string benchLine(const std::string& out, const std::string& label)
{
    const size_t at = out.find(label + ": ");
    return at == std::string::npos ? "" : out.substr(at + label.size() + 2, out.find('\n', at) - at - label.size() - 2);
}

class DriverStillTest : public ::testing::TestWithParam<Case> {};

TEST_P(DriverStillTest, DrawsLlvmpipesPictureWithoutErrors)
{
    const Driver& driver = *GetParam().driver;
    const std::string time = GetParam().time;
    if (&driver == &zink && !lavapipeInstalled())
        GTEST_SKIP() << "zink needs lavapipe, Mesa's Vulkan software driver (Debian: mesa-vulkan-drivers), "
                        "which is not installed";

    // The driver is the one asked for: Mesa falls back to another one when it cannot start it.
    const Exit bench = runDemo(driver.environment, {"--bench", "--frames", "1", "--size", "16x9"});
    ASSERT_EQ(bench.status, 0) << bench.err;
    const std::string renderer = benchLine(bench.out, "GL renderer");
    EXPECT_EQ(renderer.rfind(driver.renderer, 0), 0u) << renderer;
    if (&driver == &core) {
        EXPECT_NE(benchLine(bench.out, "GL version").find("Core Profile"), std::string::npos) << bench.out;
    }

    const Scratch folder;
    const std::string size = std::to_string(driver.width) + "x" + std::to_string(driver.height);
    const Exit reference = runDemo(llvmpipe, {"--still", time, folder / "llvmpipe.png", "--size", size});
    ASSERT_EQ(reference.status, 0) << reference.err;
    const Exit still = runDemo(driver.environment, {"--still", time, folder / "driver.png", "--size", size});
    ASSERT_EQ(still.status, 0) << still.err; // status 1 and a line for each GL error
    EXPECT_EQ(still.err.find("OpenGL error"), std::string::npos) << still.err;

    const Image expected = readImage(folder / "llvmpipe.png");
    const Image drawn = readImage(folder / "driver.png");
    ASSERT_EQ(expected.width, driver.width);
    ASSERT_EQ(drawn.width, driver.width);
    const ImageDifference difference = compareImages(expected, drawn, 2);
    EXPECT_LE(difference.differing, driver.beyondTwo) << "pixels more than 2/255 from llvmpipe's";
    std::printf("%s at %s s (%s): %d pixels beyond 2/255, by at most %d/255\n", driver.name, time.c_str(),
                renderer.c_str(), difference.differing, difference.largest);
}

std::vector<Case> cases()
{
    std::vector<Case> all;
    // The sky alone, the wave front, the grid, the ring turning, the fade.
    for (const char* time : {"10", "43.2", "52.8", "67.4", "80"}) {
        all.push_back({&zink, time});
        all.push_back({&core, time});
    }
    for (const char* time : {"43.2", "67.4"})
        all.push_back({&softpipe, time});
    return all;
}

// scripts/fastest-gl.sh says in one line which renderer will draw, whatever starts: zink when it
// matches llvmpipe, llvmpipe when zink cannot start, and no renderer at all without a display.
TEST(FastestGlTest, SaysWhichRendererDrawsWhateverStarts)
{
    struct Case {
        std::vector<std::string> environment;
        std::string said;        // the line on standard error starts so
        std::string alsoSaid;    // and holds this
        std::string printed;     // standard output starts so (the environment for env)
    };
    const std::vector<std::string> plain = {"LIBGL_ALWAYS_SOFTWARE=", "GALLIUM_DRIVER=", "VK_ICD_FILENAMES=",
                                            "MESA_GL_VERSION_OVERRIDE=", "MESA_GLSL_VERSION_OVERRIDE="};
    std::vector<Case> runs = {
        {{"VK_ICD_FILENAMES=/nonexistent"}, "run: OpenGL from llvmpipe", "zink over lavapipe did not start: ", ""},
        {{"DISPLAY="}, "run: no OpenGL renderer starts here (", "no display", ""},
    };
    if (lavapipeInstalled())
        runs.push_back({{}, "run: OpenGL from zink", "llvmpipe's pictures", "LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=zink"});
    for (const Case& c : runs) {
        std::vector<std::string> environment = plain;
        environment.insert(environment.end(), c.environment.begin(), c.environment.end());
        DemoProcess script(demoBinary, environment, {"bash", FASTEST_GL_SCRIPT, demoBinary});
        const Exit exit = script.wait(600.0);
        EXPECT_EQ(exit.status, 0) << c.said << exit.err;
        EXPECT_EQ(exit.err.rfind(c.said, 0), 0u) << exit.err;
        EXPECT_NE(exit.err.find(c.alsoSaid), std::string::npos) << exit.err;
        EXPECT_EQ(std::count(exit.err.begin(), exit.err.end(), '\n'), 1) << exit.err;
        EXPECT_EQ(exit.out.rfind(c.printed, 0), 0u) << exit.out;
        if (c.printed.empty()) {
            EXPECT_EQ(exit.out, "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(KeyMoments, DriverStillTest, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = std::string(info.param.driver->name) + "_at_" + info.param.time;
                             for (char& c : name)
                                 c = c == '.' ? '_' : c;
                             return name;
                         });

} // namespace
