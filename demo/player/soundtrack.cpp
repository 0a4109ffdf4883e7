#include "soundtrack.h"

#include "platform/platform.h"

#include <filesystem>
#include <system_error>

std::string firstRegularFile(const std::string& name, const std::vector<std::string>& folders)
{
    for (const std::string& folder : folders) {
        // The working directory stays a relative name, as it always was.
        const std::string path = folder == "." ? name : folder + "/" + name;
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error))
            return path;
    }
    return {};
}

std::vector<std::string> soundtrackFolders()
{
    return {".", Platform::executableDirectory()};
}

std::string findSoundtrack()
{
    return firstRegularFile(soundtrackName, soundtrackFolders());
}
