#pragma once

// A capture's frame read back from its PNG as the capture handed it to the encoder: RGBA rows,
// bottom row first, as GL reads them.

#include <string>
#include <vector>

// Fills `rows` (width * height * 4 bytes, the caller's) from the PNG at `path`. Empty when done;
// otherwise why not, such as "it is 320x180, not 640x360". Says nothing.
std::string readFrameImage(const std::string& path, unsigned width, unsigned height, std::vector<unsigned char>& rows);
