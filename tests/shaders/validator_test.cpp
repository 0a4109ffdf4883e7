// The five programs through the Khronos reference compiler, glslangValidator: every stage and
// every linked program, in GLSL 3.30 and in the ES 3.00 text the browser gets, exactly as the
// builders hand them to GL. Mesa accepts things the standard does not; another driver may not.
#include "shaders/shaders.h"
#include "support/command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using Kest::Program;
using Kest::ShadingLanguage;

const char* extension(GLenum type)
{
    return type == GL_VERTEX_SHADER ? ".vert" : type == GL_GEOMETRY_SHADER ? ".geom" : ".frag";
}

// The compiler's verdict on the files: its exit status and what it said, "" when all is well.
std::string validate(const std::string& files, int& status)
{
    std::string said = TestSupport::commandOutput("glslangValidator " + files + " 2>&1", &status);
    // Without a complaint it names each file it was given, and nothing else.
    std::string complaints;
    for (size_t line = 0; line < said.size();) {
        const size_t end = said.find('\n', line);
        const std::string text = said.substr(line, end - line);
        if (!text.empty() && files.find(text) == std::string::npos)
            complaints += text + "\n";
        line = end == std::string::npos ? said.size() : end + 1;
    }
    return complaints;
}

TEST(GlslValidatorTest, EveryStageAndProgramPassesTheReferenceCompilerInBothLanguages)
{
    if (TestSupport::commandOutput("command -v glslangValidator").empty())
        GTEST_SKIP() << "glslangValidator, the Khronos reference compiler (Debian: glslang-tools), is not installed";
    const fs::path folder = fs::temp_directory_path() / ("glsl-validator-" + std::to_string(::getpid()));
    fs::create_directories(folder);

    const std::pair<Program, const char*> programs[] = {{Program::sky, "sky"},
                                                         {Program::hdr, "hdr"},
                                                         {Program::blur, "blur"},
                                                         {Program::glitter, "glitter"},
                                                         {Program::ground, "ground"}};
    int stages = 0;
    for (const ShadingLanguage language : {ShadingLanguage::glsl330, ShadingLanguage::essl300}) {
        const std::string languageName = language == ShadingLanguage::glsl330 ? "glsl330" : "essl300";
        for (const auto& [program, name] : programs) {
            std::string files;
            for (const Kest::ProgramStage& stage : Kest::programStages(program, language)) {
                // The stage is what the file name's extension says.
                const fs::path file = folder / (languageName + "-" + name + extension(stage.type));
                std::ofstream(file) << stage.text;
                int status = -1;
                EXPECT_EQ(validate(file.string(), status), "") << file.filename();
                EXPECT_EQ(status, 0) << file.filename();
                files += " " + file.string();
                ++stages;
            }
            SCOPED_TRACE(languageName + " " + name + " linked");
            int status = -1;
            EXPECT_EQ(validate("-l" + files, status), "");
            EXPECT_EQ(status, 0);
        }
    }
    EXPECT_EQ(stages, 11 + 10); // ES has no geometry stage: the ground's vertex stage does its work
    fs::remove_all(folder);
}

} // namespace
