#pragma once

#include "hand_over.h"

#include <miniaudio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// Keeps one playback device open on the default output, from a thread of its own: it opens the
// device, watches it once a second, opens it again when it was lost (its server gone or
// restarted) or never opened, leaves it alone while its sink is suspended, and closes it at the
// end. No call on the caller's thread ever waits for the sound server. Where no thread can be
// had (the browser), the device is opened and closed in place instead, and not watched.
class OutputKeeper {
public:
    // What is kept open, and what its user does around it.
    struct Output {
        // Format, channels, rate and period; the keeper sets the callbacks and the user data.
        ma_device_config config;
        // Fills `frames` frames of `output`, cleared to silence, on the audio thread.
        void (*fill)(void* user, void* output, ma_uint32 frames) = nullptr;
        // Between a device's initialisation and its start, where no callback runs. `again`:
        // a device was tried before this one (since then the track ran on unheard).
        void (*starting)(void* user, const ma_device& device, bool again) = nullptr;
        // Releases the block the keeper lives in, where stop() gave up waiting for it.
        void (*release)(void* user) = nullptr;
        void* user = nullptr;
    };

    OutputKeeper() = default;
    OutputKeeper(const OutputKeeper&) = delete;
    OutputKeeper& operator=(const OutputKeeper&) = delete;

    // Starts keeping `output`; the first open is on the keeper's thread, so it has not
    // happened yet when this returns (in place, where there is no thread).
    void start(const Output& output);
    // Closes the device. True when that was done within `timeout` (the caller releases the
    // block); false when the keeper is held up in the sound server: it then releases the block
    // itself through Output::release once the server lets go, or the process's exit ends it.
    bool stop(std::chrono::milliseconds timeout);

    // A device is open (it may still be silent). Any thread may ask.
    bool isOpen() const { return opened.load(); }
    // Nothing is heard: no device could be opened, the first open has taken longer than an
    // output may stay silent, or the open device has taken no samples for that long. False again
    // only once sound flows: the output has taken more samples than it can hold unplayed. Any
    // thread may ask.
    bool outputMissing() const;

private:
    static void relay(ma_device* device, void* output, const void* input, ma_uint32 frames);
    static void notified(const ma_device_notification* notification);
    void keep();
    void open(bool again);
    void watch();
    void close();
    void markMissing();

    Output output;
    ma_device device;
    HandOver handOver;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;

    std::atomic<bool> opened{false};
    std::atomic<bool> missing{false};
    std::atomic<std::int64_t> openingSinceNs{0}; // steady clock when the open under way began; 0: none
    std::atomic<std::int64_t> callSinceNs{0};    // when the keeper's call into the server began; 0: none
    // The audio thread's: every frame the outputs have taken, and when the last callback returned.
    std::atomic<std::int64_t> takenFrames{0};
    std::atomic<std::int64_t> takenNs{0};
    // The backend reported the output stopped while the device runs on: its sink is suspended.
    std::atomic<bool> suspended{false};
    // The keeper's own.
    std::int64_t framesWhenMissed = 0; // takenFrames when the output was found missing
    std::int64_t answeredNs = 0;       // when the server last answered for a silent output
};
