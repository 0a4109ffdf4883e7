#pragma once

#include <string>
#include <vector>

// The soundtrack's file name, as the show has always opened it.
constexpr const char* soundtrackName = "valdrim.mp3";

// folder/name for the first of `folders` that holds a regular file (or a link to one) called
// `name`; a directory or pipe of that name is passed over. Empty when none does.
std::string firstRegularFile(const std::string& name, const std::vector<std::string>& folders);

// Where the soundtrack is looked for: the working directory first, then beside the executable,
// so that an unpacked release plays with its sound from wherever it is started.
std::vector<std::string> soundtrackFolders();

// The soundtrack found in soundtrackFolders(), or empty.
std::string findSoundtrack();
