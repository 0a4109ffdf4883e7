#include "music.h"

#include "music_decoder.h"

#include <miniaudio.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

struct Music::Playback {
    ma_decoder decoder;
    ma_device device;
    bool decoderOpen = false;
    bool deviceOpen = false;

    // Requests from the show's thread, acted on by the audio thread at its next callback, so
    // that neither ever waits for the other: pausing, and a frame to seek to (noSeek when none).
    // A seek decodes up to its target, which at the end of the track takes a fifth of a second.
    static constexpr std::int64_t noSeek = -1;
    std::atomic<bool> paused{false};
    std::atomic<std::int64_t> seekFrame{noSeek};
    // The audio thread's own: false after a seek that failed (past the end, or an unreadable
    // stretch), when the decoder's position is unknown and silence is played instead.
    bool positioned = true;

    // Hand-over between the destructor and the thread that closes the device: the destructor
    // releases the decoder and the block when the device closed in time, the closing thread
    // when the destructor gave up waiting.
    std::mutex closing;
    std::condition_variable closed;
    bool deviceClosed = false;
    bool abandoned = false;
};

namespace {

// Runs on the audio thread. The output buffer arrives cleared to silence, so a short read at
// the end of the track, a pause or a lost position leave silence behind them.
void data_callback(ma_device* device, void* output, const void* /*input*/, ma_uint32 frameCount)
{
    auto* playback = static_cast<Music::Playback*>(device->pUserData);
    const std::int64_t seek = playback->seekFrame.exchange(Music::Playback::noSeek, std::memory_order_acquire);
    if (seek != Music::Playback::noSeek)
        playback->positioned = ma_decoder_seek_to_pcm_frame(&playback->decoder, ma_uint64(seek)) == MA_SUCCESS;
    if (!playback->positioned || playback->paused.load(std::memory_order_relaxed))
        return;
    ma_uint64 framesRead = 0;
    ma_decoder_read_pcm_frames(&playback->decoder, output, frameCount, &framesRead);
}

// How long the destructor waits for the audio thread to let go of the device. A healthy server
// needs a few milliseconds; the show must still end within a second when it does not answer.
constexpr std::chrono::milliseconds closeTimeout(500);

// Frames at the output rate, clamped so that the conversion is defined for any float.
ma_uint64 startFrame(float startSeconds)
{
    if (!(startSeconds > 0.0f))
        return 0;
    const double frames = std::floor(double(startSeconds) * musicSampleRate);
    constexpr double limit = 9.0e18;
    return frames < limit ? ma_uint64(frames) : ma_uint64(limit);
}

static_assert(std::atomic<std::int64_t>::is_always_lock_free, "the audio thread must never wait on a lock");

} // namespace

namespace {

// Stops the device, then releases it. ma_device_uninit alone only flags the worker thread and
// joins it; the PulseAudio worker sits in a blocking poll that, once the server is gone, nothing
// wakes. Stopping first wakes that loop. Stopping a device that is no longer started (the backend
// stopped it itself) is skipped.
void closeDevice(ma_device& device)
{
    if (ma_device_get_state(&device) == ma_device_state_started)
        ma_device_stop(&device);
    ma_device_uninit(&device);
}

// Runs on the closing thread: closes the device, then either tells the waiting destructor or,
// when it has given up waiting, releases the decoder and the block itself.
void closeAndHandOver(Music::Playback* block)
{
    closeDevice(block->device);
    std::unique_lock<std::mutex> lock(block->closing);
    block->deviceClosed = true;
    if (block->abandoned) {
        lock.unlock();
        ma_decoder_uninit(&block->decoder);
        delete block;
        return;
    }
    block->closed.notify_one();
}

// Closes the device on a thread of its own and waits for it at most `timeout`. False when the
// audio thread could not finish in time (a server that stopped answering): the block is then
// left to the closing thread, and the process's exit ends that thread if the device never lets
// go. Never waits unboundedly, and the normal case still releases everything here.
bool closeWithin(Music::Playback* block, std::chrono::milliseconds timeout)
{
    std::thread closer;
    try {
        closer = std::thread(closeAndHandOver, block);
    } catch (const std::system_error&) {
        // No thread to be had: close in place, as the library itself would.
        closeDevice(block->device);
        return true;
    }
    std::unique_lock<std::mutex> lock(block->closing);
    if (!block->closed.wait_for(lock, timeout, [block] { return block->deviceClosed; })) {
        block->abandoned = true;
        lock.unlock();
        closer.detach();
        return false;
    }
    lock.unlock();
    closer.join();
    return true;
}

} // namespace

Music::Music()
    : Music("valdrim.mp3")
{
}

Music::Music(const char* path)
    : Music(path, 0.0f)
{
}

Music::Music(const char* path, float startSeconds)
    : playback(std::make_unique<Playback>())
{
    if (openMusicFile(path, playback->decoder) != MA_SUCCESS)
        return;
    playback->decoderOpen = true;

    // A seek that fails has read up to the end of the stream or hit an unreadable stretch; the
    // device then plays silence instead of whatever the decoder holds.
    if (const ma_uint64 frame = startFrame(startSeconds); frame > 0)
        playback->positioned = ma_decoder_seek_to_pcm_frame(&playback->decoder, frame) == MA_SUCCESS;

    ma_device_config config = ma_device_config_init(ma_device_type_playback);
    config.playback.format = ma_format_f32;
    config.playback.channels = musicChannels;
    config.sampleRate = musicSampleRate;
    config.dataCallback = data_callback;
    config.pUserData = playback.get();
    if (ma_device_init(nullptr, &config, &playback->device) != MA_SUCCESS)
        return;
    playback->deviceOpen = true;
    ma_device_start(&playback->device);
}

Music::~Music()
{
    Playback* block = playback.get();
    if (block->deviceOpen && !closeWithin(block, closeTimeout)) {
        // The closing thread owns the block now.
        static_cast<void>(playback.release());
        return;
    }
    // The device thread read the decoder, so the decoder goes only once the device is gone.
    if (block->decoderOpen)
        ma_decoder_uninit(&block->decoder);
}

bool Music::isPlaying() const
{
    return playback->deviceOpen && ma_device_is_started(&playback->device);
}

void Music::pause()
{
    playback->paused.store(true, std::memory_order_relaxed);
}

void Music::resume()
{
    playback->paused.store(false, std::memory_order_relaxed);
}

void Music::seek(float seconds)
{
    playback->seekFrame.store(std::int64_t(startFrame(seconds)), std::memory_order_release);
}
