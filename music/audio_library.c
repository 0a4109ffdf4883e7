/* The one translation unit that compiles the audio library's implementation. Its feature
   set (MP3 decoding only, one playback backend per platform) comes from the music target's
   compile definitions, so every user of the header sees the same configuration. */
#define MINIAUDIO_IMPLEMENTATION
#include <miniaudio.h>
