#pragma once

#include <miniaudio.h>

#include <cstddef>
#include <cstdint>

// The soundtrack's decoder set-up, shared by the player and the decoder's fuzz target, so that
// both exercise exactly the same configuration: 32-bit float stereo at the output rate, whatever
// the stream's own format is.
constexpr ma_uint32 musicChannels = 2;
constexpr ma_uint32 musicSampleRate = 44100;
// Seek points spread evenly over the track: about 80 ms apart for the soundtrack's 86 s. Files
// above the size get none (about half an hour at 128 kb/s).
constexpr ma_uint32 musicSeekPoints = 1024;
constexpr std::uintmax_t musicSeekTableBytes = 32u << 20;

ma_decoder_config musicDecoderConfig(std::uintmax_t bytes);

// Opens a music file. Anything but a regular file (a directory, a named pipe, a device) counts as
// missing: opening a pipe without a writer would block the caller for good.
ma_result openMusicFile(const char* path, ma_decoder& decoder);

// Opens an MP3 held in memory; the caller keeps the bytes alive until ma_decoder_uninit.
ma_result openMusicMemory(const void* data, size_t size, ma_decoder& decoder);

// Opens the bytes as a music stream, reads every frame and closes it again. Returns the number of
// frames decoded, 0 when the bytes are not a stream the decoder accepts.
ma_uint64 decodeMusicMemory(const void* data, size_t size);
