#include "music.h"

#include <miniaudio.h>

namespace {

// Runs on the audio thread. The output buffer arrives cleared to silence, so a short read at
// the end of the track leaves silence behind it.
void data_callback(ma_device* device, void* output, const void* /*input*/, ma_uint32 frameCount)
{
    auto* decoder = static_cast<ma_decoder*>(device->pUserData);
    if (decoder == nullptr)
        return;
    ma_uint64 framesRead = 0;
    ma_decoder_read_pcm_frames(decoder, output, frameCount, &framesRead);
}

constexpr ma_uint32 outputChannels = 2;
constexpr ma_uint32 outputSampleRate = 44100;

} // namespace

struct Music::Playback {
    ma_decoder decoder;
    ma_device device;
    bool decoderOpen = false;
    bool deviceOpen = false;
};

Music::Music()
    : Music("valdrim.mp3")
{
}

Music::Music(const char* path)
    : playback(std::make_unique<Playback>())
{
    // Ask the decoder for the device's own format: any MP3, mono or at another rate, is then
    // converted instead of being played at the wrong speed or with its channels mixed up.
    const ma_decoder_config decoderConfig =
        ma_decoder_config_init(ma_format_f32, outputChannels, outputSampleRate);
    if (ma_decoder_init_file(path, &decoderConfig, &playback->decoder) != MA_SUCCESS)
        return;
    playback->decoderOpen = true;

    ma_device_config config = ma_device_config_init(ma_device_type_playback);
    config.playback.format = ma_format_f32;
    config.playback.channels = outputChannels;
    config.sampleRate = outputSampleRate;
    config.dataCallback = data_callback;
    config.pUserData = &playback->decoder;
    if (ma_device_init(nullptr, &config, &playback->device) != MA_SUCCESS)
        return;
    playback->deviceOpen = true;
    ma_device_start(&playback->device);
}

Music::~Music()
{
    // The device thread reads the decoder, so the device goes first.
    if (playback->deviceOpen)
        ma_device_uninit(&playback->device);
    if (playback->decoderOpen)
        ma_decoder_uninit(&playback->decoder);
}

bool Music::isPlaying() const
{
    return playback->deviceOpen && ma_device_is_started(&playback->device);
}
