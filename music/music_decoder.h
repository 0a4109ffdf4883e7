#pragma once

#include <miniaudio.h>

#include <cstddef>

// The soundtrack's decoder set-up, shared by the player and the decoder's fuzz target, so that
// both exercise exactly the same configuration: 32-bit float stereo at the output rate, whatever
// the stream's own format is.
constexpr ma_uint32 musicChannels = 2;
constexpr ma_uint32 musicSampleRate = 44100;

ma_decoder_config musicDecoderConfig();

// Opens a music file. Anything but a regular file (a directory, a named pipe, a device) counts as
// missing: opening a pipe without a writer would block the caller for good.
ma_result openMusicFile(const char* path, ma_decoder& decoder);

// Opens an MP3 held in memory; the caller keeps the bytes alive until ma_decoder_uninit.
ma_result openMusicMemory(const void* data, size_t size, ma_decoder& decoder);

// Opens the bytes as a music stream, reads every frame and closes it again. Returns the number of
// frames decoded, 0 when the bytes are not a stream the decoder accepts.
ma_uint64 decodeMusicMemory(const void* data, size_t size);
