#include "music_decoder.h"

#include <filesystem>
#include <system_error>

namespace {

// std::filesystem follows symbolic links and reports the same file kinds on POSIX and Windows.
bool isRegularFile(const char* path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::u8path(path), error);
}

std::uintmax_t fileBytes(const char* path)
{
    std::error_code error;
    const std::uintmax_t bytes = std::filesystem::file_size(std::filesystem::u8path(path), error);
    return error ? 0 : bytes;
}

} // namespace

ma_decoder_config musicDecoderConfig(std::uintmax_t bytes)
{
    // Asking for the device's format means a mono file or one at another rate is converted
    // instead of being played at the wrong speed or with its channels mixed up.
    ma_decoder_config config = ma_decoder_config_init(ma_format_f32, musicChannels, musicSampleRate);
    // A seek table, built when the file is opened from the frame headers alone (2 ms for the
    // soundtrack): a seek then decodes from the nearest point before its target instead of from
    // the track's start. Reading the headers of a much bigger file would hold up the start.
    config.seekPointCount = bytes <= musicSeekTableBytes ? musicSeekPoints : 0;
    return config;
}

ma_result openMusicFile(const char* path, ma_decoder& decoder)
{
    if (!isRegularFile(path))
        return MA_DOES_NOT_EXIST;
    const ma_decoder_config config = musicDecoderConfig(fileBytes(path));
    return ma_decoder_init_file(path, &config, &decoder);
}

ma_result openMusicMemory(const void* data, size_t size, ma_decoder& decoder)
{
    const ma_decoder_config config = musicDecoderConfig(size);
    return ma_decoder_init_memory(data, size, &config, &decoder);
}

ma_uint64 decodeMusicMemory(const void* data, size_t size)
{
    ma_decoder decoder;
    if (openMusicMemory(data, size, decoder) != MA_SUCCESS)
        return 0;
    // A callback's worth at a time, as the device reads it.
    float frames[1024 * musicChannels];
    ma_uint64 total = 0;
    for (;;) {
        ma_uint64 read = 0;
        const ma_result result = ma_decoder_read_pcm_frames(&decoder, frames, 1024, &read);
        total += read;
        if (result != MA_SUCCESS || read == 0)
            break;
    }
    ma_decoder_uninit(&decoder);
    return total;
}
