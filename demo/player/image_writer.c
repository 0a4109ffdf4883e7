/* The PNG writer's implementation, compiled once. Third-party code: its warnings are not ours. */
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBIW_WINDOWS_UTF8
#include <stb/stb_image_write.h>
