// The frame loops allocate nothing of their own, in the live show and in a capture: every heap
// allocation after the second frame, counted by the library that asked for it, from outside the
// real binary (a census preloaded into it). The driver's and the windowing library's own
// allocations are printed, not judged.
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <thread>

namespace {

using namespace DemoTest;

const std::string demoBinary = DEMO_BINARY;
const std::string workDir = WORK_DIR;

struct Census {
    long frames = 0;
    std::map<std::string, long> byLibrary;
};

Census readCensus(const std::string& path)
{
    Census census;
    std::ifstream in(path);
    std::string name;
    long count = 0;
    while (in >> name >> count) {
        if (name == "frames")
            census.frames = count;
        else
            census.byLibrary[name] = count;
    }
    return census;
}

void report(const char* what, const Census& census)
{
    std::cout << what << ": allocations per frame over " << census.frames << " frames:";
    for (const auto& [library, count] : census.byLibrary)
        std::cout << " " << library << " " << static_cast<double>(count) / census.frames;
    std::cout << std::endl;
}

std::vector<std::string> censusEnvironment(const std::string& log)
{
    std::remove(log.c_str());
    return {"LD_PRELOAD=" ALLOC_CENSUS, "ALLOC_CENSUS_LOG=" + log};
}

TEST(AllocCensusTest, TheLiveShowAllocatesNothingOfItsOwnPerFrame)
{
    XvfbServer screen(640, 360);
    ASSERT_FALSE(screen.display.empty());
    const std::string log = workDir + "/census-live.txt";
    std::vector<std::string> environment = censusEnvironment(log);
    environment.push_back("DISPLAY=" + screen.display);
    DemoProcess demo(demoBinary, environment, {demoBinary, "--windowed", "--size", "320x180", "--start", "50"});
    ASSERT_TRUE(waitForWindow(screen.display, "demo", 60.0));
    // Eight titles, each set by a frame of its own: enough whole frames to judge, however slowly
    // they come.
    TitleReader title(screen.display, "demo");
    int titles = 0;
    std::string last;
    for (const double end = now() + 120.0; now() < end && titles < 8;
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        const std::string read = title.read();
        if (titleShowTime(read) >= 0.0 && read != last)
            ++titles, last = read;
    }
    ASSERT_TRUE(requestClose(screen.display, "demo"));
    const Exit exit = demo.wait(30.0);
    ASSERT_EQ(exit.status, 0) << exit.err;

    Census census = readCensus(log);
    report("live show", census);
    EXPECT_GE(census.frames, 3) << "too few frames to judge";
    EXPECT_EQ(census.byLibrary["demo"], 0);
}

TEST(AllocCensusTest, ACaptureAllocatesNothingOfItsOwnPerFrame)
{
    // A video's frames converted on the CPU and on the GPU, and numbered images.
    for (const std::vector<std::string>& output :
         {std::vector<std::string>{"census-capture.mkv", "--convert-on", "cpu"},
          {"census-capture.mkv", "--convert-on", "gpu"}, {"census-frames/%03d.png"}}) {
        SCOPED_TRACE(output.back());
        const std::string log = workDir + "/census-capture.txt";
        const std::string file = workDir + "/" + output[0];
        std::filesystem::create_directories(workDir + "/census-frames");
        std::vector<std::string> arguments = {demoBinary, "--capture", file, "--size", "160x90", "--fps", "10",
                                              "--from", "50", "--to", "54", "--overwrite"};
        arguments.insert(arguments.end(), output.begin() + 1, output.end());
        DemoProcess demo(demoBinary, censusEnvironment(log), arguments);
        const Exit exit = demo.wait(120.0);
        ASSERT_EQ(exit.status, 0) << exit.err;
        std::filesystem::remove_all(workDir + "/census-frames");
        std::remove(file.c_str());

        Census census = readCensus(log);
        report("capture", census);
        EXPECT_EQ(census.frames, 38); // 40 frames read back, the first two left out
        EXPECT_EQ(census.byLibrary["demo"], 0);
    }
}

} // namespace
