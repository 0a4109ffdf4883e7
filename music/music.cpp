#include "music.h"

#include "music_decoder.h"
#include "music_sync.h"
#include "output_keeper.h"

#include <miniaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>

struct Music::Playback {
    ma_decoder decoder;
    bool decoderOpen = false;
    // The device, opened, watched and closed on a thread of its own.
    OutputKeeper output;

    // Requests from the show's thread, acted on by the audio thread at its next callback, so
    // that neither ever waits for the other: pausing, and a frame to seek to (noSeek when none).
    // A seek decodes up to its target, which at the end of the track takes a fifth of a second.
    // A seek carries its request number in the top bits, so that heardSeconds() can tell the
    // audio thread has not acted on it yet and answers with its target meanwhile.
    static constexpr std::int64_t noSeek = -1;
    static constexpr int requestShift = 48;
    static constexpr std::int64_t frameMask = (std::int64_t(1) << requestShift) - 1;
    std::atomic<bool> paused{false};
    std::atomic<std::int64_t> seekFrame{noSeek};
    std::atomic<std::int64_t> requestedSeek{0};     // request number << requestShift | frame
    std::int64_t actedRequest = 0;                  // the audio thread's: the last request acted on
    // The audio thread's own: false after a seek that failed (past the end, or an unreadable
    // stretch), when the decoder's position is unknown and silence is played instead.
    bool positioned = true;
    std::int64_t lostFrame = 0; // not positioned: the frame the failed seek aimed at
    bool wasPaused = false;

    // The picture's clock that the music keeps to (follow()), published by the show's thread
    // under a sequence count (odd while it writes): the show time at a steady-clock stamp, and
    // whether it moves. The audio thread keeps the last one it read whole, so that a read that
    // meets a write in progress never waits.
    struct Picture {
        double seconds = 0.0;
        std::int64_t stampNs = 0;
        bool running = false;
        bool given = false; // follow() was called
    };
    std::atomic<std::uint64_t> pictureSequence{0};
    std::atomic<double> pictureSeconds{0.0};
    std::atomic<std::int64_t> pictureStampNs{0};
    std::atomic<int> pictureState{0}; // 0: no picture yet, 1: held, 2: running
    Picture picture;                  // the audio thread's copy
    bool waitForPicture = false;      // silent until the first follow()
    MusicSync sync;                   // the audio thread's
    std::atomic<long> resyncs{0};

    // What has been played, published by the audio thread after each callback for heardSeconds()
    // under a sequence count (odd while it writes), so that neither side ever waits: a stretch
    // is the run of track frames played without a break since the last start, seek or resume.
    struct Played {
        std::int64_t outputFrames = 0;  // every frame handed to the output, silence included
        std::int64_t stretchOutput = 0; // outputFrames when the stretch began
        std::int64_t stretchTrack = 0;  // the track frame it began at
        std::int64_t stretchFrames = 0; // the track frames in it so far
        std::int64_t stampNs = 0;       // steady clock when the last callback returned
        bool trackEnded = false;        // the stretch ran into the end of the track
        bool lost = false;              // no position: a failed seek
    };
    Played played;          // the audio thread's working copy
    std::atomic<std::uint64_t> sequence{0};
    std::atomic<std::int64_t> published[6] = {};
    std::atomic<int> publishedFlags{0};
    // Output frames between the callback and the ear.
    std::atomic<std::int64_t> latencyFrames{0};

    // The keeper's, before a device starts: the track already ran on since the last one played.
    bool runningUnheard = false;
};

namespace {

std::int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

enum PlayedFlags { trackEndedFlag = 1, lostFlag = 2 };

// Writes the audio thread's copy where heardSeconds() reads it.
void publish(Music::Playback& playback)
{
    const Music::Playback::Played& p = playback.played;
    const std::uint64_t sequence = playback.sequence.load(std::memory_order_relaxed);
    playback.sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    const std::int64_t values[6] = {p.outputFrames, p.stretchOutput, p.stretchTrack,
                                    p.stretchFrames, p.stampNs,      playback.actedRequest};
    for (int i = 0; i < 6; ++i)
        playback.published[i].store(values[i], std::memory_order_relaxed);
    playback.publishedFlags.store((p.trackEnded ? trackEndedFlag : 0) | (p.lost ? lostFlag : 0),
                                  std::memory_order_relaxed);
    playback.sequence.store(sequence + 2, std::memory_order_release);
}

// A new stretch from the decoder's position now.
void beginStretch(Music::Playback& playback)
{
    Music::Playback::Played& p = playback.played;
    ma_uint64 cursor = 0;
    p.lost = !playback.positioned || ma_decoder_get_cursor_in_pcm_frames(&playback.decoder, &cursor) != MA_SUCCESS;
    p.stretchOutput = p.outputFrames;
    p.stretchTrack = std::int64_t(cursor);
    p.stretchFrames = 0;
    p.trackEnded = false;
}

// The picture's clock as follow() last published it, read without waiting: a read that meets a
// write in progress keeps the copy read before.
void readPicture(Music::Playback& playback)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::uint64_t before = playback.pictureSequence.load(std::memory_order_acquire);
        if ((before & 1) != 0)
            continue;
        Music::Playback::Picture read;
        read.seconds = playback.pictureSeconds.load(std::memory_order_relaxed);
        read.stampNs = playback.pictureStampNs.load(std::memory_order_relaxed);
        const int state = playback.pictureState.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (playback.pictureSequence.load(std::memory_order_relaxed) != before)
            continue;
        read.given = state != 0;
        read.running = state == 2;
        playback.picture = read;
        return;
    }
}

// Seeks the decoder; a seek that fails leaves the position unknown (silence) until the next.
void seekDecoder(Music::Playback& playback, std::int64_t frame)
{
    playback.positioned = ma_decoder_seek_to_pcm_frame(&playback.decoder, ma_uint64(frame)) == MA_SUCCESS;
    if (!playback.positioned)
        playback.lostFrame = frame;
}

// The device's data callback, on the audio thread. The output buffer arrives cleared to silence,
// so a short read at the end of the track, a pause or a lost position leave silence behind them.
void data_callback(void* user, void* output, ma_uint32 frameCount)
{
    auto* playback = static_cast<Music::Playback*>(user);
    const std::int64_t nowNs = steadyNanoseconds();
    const std::int64_t seek = playback->seekFrame.exchange(Music::Playback::noSeek, std::memory_order_acquire);
    bool paused = playback->paused.load(std::memory_order_relaxed);
    if (seek != Music::Playback::noSeek) {
        seekDecoder(*playback, seek & Music::Playback::frameMask);
        playback->actedRequest = seek >> Music::Playback::requestShift;
    }
    // Kept on the picture, once the show tells where it is.
    bool moved = false;
    readPicture(*playback);
    const Music::Playback::Picture& picture = playback->picture;
    if (picture.given || playback->waitForPicture) {
        const Music::Playback::Played& p = playback->played;
        const double pictureNow = picture.seconds + double(nowNs - picture.stampNs) * 1e-9;
        // What the output still holds: as heardSeconds() reckons it, a full latency after the
        // last callback, draining since; nothing before the first.
        const std::int64_t queued =
            p.outputFrames == 0
                ? 0
                : std::max<std::int64_t>(0, playback->latencyFrames - (nowNs - p.stampNs) *
                                                                          std::int64_t(musicSampleRate) /
                                                                          1'000'000'000);
        // Silent while the picture is held, and before its time 0 is heard (the picture seen
        // is told a little before its clock: a start from 0 waits for it).
        paused = !picture.running || pictureNow + double(queued) / double(musicSampleRate) < 0.0;
        if (!paused) {
            MusicPosition position;
            position.known = playback->positioned;
            position.frame = playback->positioned ? p.stretchTrack + p.stretchFrames : playback->lostFrame;
            position.ended = p.trackEnded;
            position.resuming = playback->wasPaused;
            const std::int64_t target = playback->sync.seekFor(position, pictureNow, queued, double(musicSampleRate));
            if (target >= 0) {
                seekDecoder(*playback, target);
                playback->resyncs.fetch_add(1, std::memory_order_relaxed);
                moved = true;
            }
        }
    }
    if (seek != Music::Playback::noSeek || moved || (playback->wasPaused && !paused))
        beginStretch(*playback);
    playback->wasPaused = paused;
    ma_uint64 framesRead = 0;
    if (playback->positioned && !paused) {
        ma_decoder_read_pcm_frames(&playback->decoder, output, frameCount, &framesRead);
        playback->played.trackEnded = framesRead < frameCount;
    }
    Music::Playback::Played& p = playback->played;
    p.stretchFrames += std::int64_t(framesRead);
    p.outputFrames += frameCount;
    p.stampNs = steadyNanoseconds();
    publish(*playback);
}

// How long the destructor waits for the keeper to close the device. A healthy server needs a
// few milliseconds; the show must still end within a second when it does not answer.
constexpr std::chrono::milliseconds closeTimeout(500);

// The output's period: the library's own default for PulseAudio, named so that the latency
// below is known.
constexpr ma_uint32 periodMilliseconds = 25;

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
static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "the audio thread must never wait on a lock");
static_assert(std::atomic<double>::is_always_lock_free, "the audio thread must never wait on a lock");

// A device whose callback has not run for this long has stopped (a frozen or lost server):
// nothing is heard from it. Callbacks come every few milliseconds while it plays.
constexpr std::int64_t staleNs = 250'000'000;

// Before a device opens again: the track has run on, unheard, since the old one last took
// samples, so that the music comes back where the show is by now. Not while paused, after a
// failed seek or the track's end, or when a seek waits for the new device.
void runOnUnheard(Music::Playback& playback)
{
    Music::Playback::Played& p = playback.played;
    const std::int64_t nowNs = steadyNanoseconds();
    std::int64_t unheard = (nowNs - p.stampNs) * std::int64_t(musicSampleRate) / 1'000'000'000;
    // The first time after an output was lost, what it still held had been heard.
    if (!playback.runningUnheard)
        unheard -= playback.latencyFrames;
    playback.runningUnheard = true;
    p.stampNs = nowNs;
    if (playback.paused.load(std::memory_order_relaxed) || !playback.positioned || p.trackEnded ||
        playback.seekFrame.load(std::memory_order_relaxed) != Music::Playback::noSeek)
        return;
    ma_uint64 cursor = 0;
    if (ma_decoder_get_cursor_in_pcm_frames(&playback.decoder, &cursor) != MA_SUCCESS)
        return;
    if (unheard > 0)
        seekDecoder(playback, std::int64_t(cursor) + unheard);
}

// Before a device starts (OutputKeeper::Output::starting): where an output was tried before,
// the track has run on unheard to where the show is by now; a first open starts where asked.
void starting(void* user, const ma_device& device, bool again)
{
    auto& playback = *static_cast<Music::Playback*>(user);
    if (again)
        runOnUnheard(playback);
    // A PulseAudio stream asked for an overall latency (ADJUST_LATENCY) keeps that much between
    // the callback and the ear, the sink's own buffer included; the buffer the server grants
    // the stream is only its part. Other backends hold their periods.
    playback.latencyFrames = device.pContext->backend == ma_backend_pulseaudio
                                 ? std::int64_t(periodMilliseconds) * musicSampleRate / 1000
                                 : std::int64_t(device.playback.internalPeriodSizeInFrames) * device.playback.internalPeriods;
    // Held at the start until the first frames reach the ear.
    beginStretch(playback);
    playback.played.stampNs = steadyNanoseconds();
    publish(playback);
    playback.runningUnheard = false;
}

// Releases the decoder and the block, the device once closed.
void releasePlayback(void* user)
{
    auto* playback = static_cast<Music::Playback*>(user);
    if (playback->decoderOpen)
        ma_decoder_uninit(&playback->decoder);
    delete playback;
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

Music::Music(const char* path, float startSeconds, bool waitForPicture)
    : playback(std::make_unique<Playback>())
{
    playback->waitForPicture = waitForPicture;
    playback->wasPaused = waitForPicture;
    if (openMusicFile(path, playback->decoder) != MA_SUCCESS)
        return;
    playback->decoderOpen = true;

    // A seek that fails has read up to the end of the stream or hit an unreadable stretch; the
    // device then plays silence instead of whatever the decoder holds.
    if (const ma_uint64 frame = startFrame(startSeconds); frame > 0)
        seekDecoder(*playback, std::int64_t(std::min<ma_uint64>(frame, Playback::frameMask)));

    // Where the first try opens no output, the track runs on unheard from here until one opens
    // (see runOnUnheard).
    playback->played.stampNs = steadyNanoseconds();
    playback->runningUnheard = true;
    OutputKeeper::Output output;
    output.config = ma_device_config_init(ma_device_type_playback);
    output.config.playback.format = ma_format_f32;
    output.config.playback.channels = musicChannels;
    output.config.sampleRate = musicSampleRate;
    output.config.periodSizeInMilliseconds = periodMilliseconds;
    output.fill = data_callback;
    output.starting = starting;
    output.release = releasePlayback;
    output.user = playback.get();
    playback->output.start(output);
}

Music::~Music()
{
    // The keeper may be held up in a sound server that stopped answering: it is waited for only
    // so long, and then releases the block itself.
    if (!playback->output.stop(closeTimeout)) {
        static_cast<void>(playback.release());
        return;
    }
    // The device thread read the decoder, so the decoder goes only once the device is gone.
    if (playback->decoderOpen)
        ma_decoder_uninit(&playback->decoder);
}

bool Music::isPlaying() const
{
    return playback->output.isOpen() && !playback->output.outputMissing();
}

bool Music::outputMissing() const
{
    return playback->decoderOpen && playback->output.outputMissing();
}

void Music::pause()
{
    playback->paused.store(true, std::memory_order_relaxed);
}

void Music::resume()
{
    playback->paused.store(false, std::memory_order_relaxed);
}

std::optional<double> Music::heardSeconds() const
{
    const Playback& block = *playback;
    if (!block.output.isOpen())
        return std::nullopt;
    // Read first: a request seen here was made before the snapshot below is read.
    const std::int64_t requested = block.requestedSeek.load(std::memory_order_acquire);
    std::int64_t v[6];
    int flags = 0;
    for (;;) {
        const std::uint64_t before = block.sequence.load(std::memory_order_acquire);
        for (int i = 0; i < 6; ++i)
            v[i] = block.published[i].load(std::memory_order_relaxed);
        flags = block.publishedFlags.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((before & 1) == 0 && block.sequence.load(std::memory_order_relaxed) == before)
            break;
        std::this_thread::yield();
    }
    const auto [outputFrames, stretchOutput, stretchTrack, stretchFrames, stampNs, acted] = v;
    const std::int64_t sinceNs = steadyNanoseconds() - stampNs;
    if (sinceNs > staleNs)
        return std::nullopt;
    if ((requested >> Playback::requestShift) != acted)
        return double(requested & Playback::frameMask) / double(musicSampleRate);
    if ((flags & lostFlag) != 0)
        return std::nullopt;
    // The output frame at the ear: the last one written less what the stream holds, moved on by
    // the time since, but never past what was written.
    const std::int64_t since = sinceNs * std::int64_t(musicSampleRate) / 1'000'000'000;
    const std::int64_t atEar = std::min(outputFrames, outputFrames - block.latencyFrames + since);
    const std::int64_t intoStretch = atEar - stretchOutput;
    if ((flags & trackEndedFlag) != 0 && intoStretch >= stretchFrames)
        return std::nullopt;
    const std::int64_t frame = stretchTrack + std::clamp<std::int64_t>(intoStretch, 0, stretchFrames);
    return double(frame) / double(musicSampleRate);
}

double Music::outputLatency() const
{
    return double(playback->latencyFrames) / double(musicSampleRate);
}

void Music::follow(double seconds, bool running)
{
    Playback& block = *playback;
    const std::uint64_t sequence = block.pictureSequence.load(std::memory_order_relaxed);
    block.pictureSequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    block.pictureSeconds.store(seconds, std::memory_order_relaxed);
    block.pictureStampNs.store(steadyNanoseconds(), std::memory_order_relaxed);
    block.pictureState.store(running ? 2 : 1, std::memory_order_relaxed);
    block.pictureSequence.store(sequence + 2, std::memory_order_release);
}

long Music::resyncs() const
{
    return playback->resyncs.load(std::memory_order_relaxed);
}

void Music::seek(float seconds)
{
    // Past 2^47 frames (100 years) is past the end all the same.
    const std::int64_t frame = std::min(std::int64_t(startFrame(seconds)), Playback::frameMask >> 1);
    const std::int64_t number = ((playback->requestedSeek.load(std::memory_order_relaxed) >> Playback::requestShift) + 1) & 0x7fff;
    const std::int64_t request = number << Playback::requestShift | frame;
    playback->requestedSeek.store(request, std::memory_order_release);
    playback->seekFrame.store(request, std::memory_order_release);
}
