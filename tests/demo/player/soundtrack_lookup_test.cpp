// Where the soundtrack is found: the first of its folders with a regular file of its name.
#include "player/soundtrack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <stdlib.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

TEST(SoundtrackLookupTest, TheWorkingDirectoryFirstThenBesideTheExecutable)
{
    char name[] = "/tmp/demo-lookup-XXXXXX";
    const fs::path root = mkdtemp(name);
    const fs::path work = root / "work", beside = root / "beside", pipe = root / "pipe", dir = root / "dir";
    for (const fs::path& folder : {work, beside, pipe, dir})
        fs::create_directory(folder);
    std::ofstream(work / "valdrim.mp3") << "here";
    std::ofstream(beside / "valdrim.mp3") << "there";
    fs::create_directory(dir / "valdrim.mp3");
    ASSERT_EQ(mkfifo((pipe / "valdrim.mp3").c_str(), 0600), 0);

    const struct {
        std::vector<std::string> folders;
        fs::path expected; // empty: not found
    } cases[] = {
        {{work, beside}, work / "valdrim.mp3"},
        {{root, beside}, beside / "valdrim.mp3"},
        {{root, root / "none"}, {}},
        {{dir, beside}, beside / "valdrim.mp3"},
        {{pipe, beside}, beside / "valdrim.mp3"},
        {{pipe, dir}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(firstRegularFile("valdrim.mp3", c.folders), c.expected.string()) << c.folders[0];
    // The working directory keeps the bare name, as the show has always opened it.
    EXPECT_EQ(soundtrackFolders().front(), ".");
    fs::remove_all(root);
}

} // namespace
