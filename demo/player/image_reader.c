/* The PNG reader's implementation, compiled once. Third-party code: its warnings are not ours. */
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_WINDOWS_UTF8
#include <stb/stb_image.h>
