#include "output_keeper.h"

namespace {

// How often the keeper looks at the output, and how long an output may take no samples before
// it counts as missing (a server killed or frozen, a sink gone or suspended): long beside a
// callback's 25 ms, short beside a show.
constexpr std::chrono::milliseconds lookInterval(1000);
constexpr std::int64_t silentNs = 1'500'000'000;

std::int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

// Whether the sound server answers a new connection now (on a frozen server this waits until it
// runs again). Backends without a server always answer.
bool serverAnswers()
{
    ma_context probe;
    if (ma_context_init(nullptr, 0, nullptr, &probe) != MA_SUCCESS)
        return false;
    ma_context_uninit(&probe);
    return true;
}

} // namespace

void OutputKeeper::start(const Output& kept)
{
    output = kept;
    if (!handOver.start([this] { keep(); }))
        open(false);
}

bool OutputKeeper::stop(std::chrono::milliseconds timeout)
{
    if (!handOver.started()) {
        if (opened)
            close();
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    // A keeper held up in the server for longer than an output may stay silent is not waited for.
    const std::int64_t since = callSinceNs;
    const bool heldUp = since != 0 && steadyNanoseconds() - since > silentNs;
    return handOver.waitFor(heldUp ? std::chrono::milliseconds(0) : timeout);
}

bool OutputKeeper::outputMissing() const
{
    if (missing)
        return true;
    const std::int64_t since = openingSinceNs;
    return since != 0 && steadyNanoseconds() - since > silentNs;
}

void OutputKeeper::relay(ma_device* device, void* out, const void* /*input*/, ma_uint32 frames)
{
    auto* keeper = static_cast<OutputKeeper*>(device->pUserData);
    keeper->output.fill(keeper->output.user, out, frames);
    keeper->takenFrames.fetch_add(frames, std::memory_order_relaxed);
    keeper->takenNs.store(steadyNanoseconds(), std::memory_order_relaxed);
}

// The PulseAudio backend reports a suspended sink as the device stopped, and its resumption as
// started, while the device itself runs on.
void OutputKeeper::notified(const ma_device_notification* notification)
{
    auto* keeper = static_cast<OutputKeeper*>(notification->pDevice->pUserData);
    if (notification->type == ma_device_notification_type_stopped)
        keeper->suspended = true;
    else if (notification->type == ma_device_notification_type_started)
        keeper->suspended = false;
}

// The keeper's thread: the first open at once, then a look once a second until told to stop;
// then the device is closed and the block handed over.
void OutputKeeper::keep()
{
    bool again = false;
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        lock.unlock();
        if (!opened) {
            open(again);
            again = true;
        } else {
            watch();
        }
        lock.lock();
        wake.wait_for(lock, lookInterval, [this] { return stopping; });
    }
    lock.unlock();
    if (opened)
        close();
    if (handOver.done())
        output.release(output.user);
}

void OutputKeeper::open(bool again)
{
    const std::int64_t began = steadyNanoseconds();
    openingSinceNs = began;
    callSinceNs = began;
    ma_device_config config = output.config;
    config.dataCallback = relay;
    config.notificationCallback = notified;
    config.pUserData = this;
    if (ma_device_init(nullptr, &config, &device) == MA_SUCCESS) {
        suspended = false;
        answeredNs = 0;
        takenNs = steadyNanoseconds();
        output.starting(output.user, device, again);
        opened = true;
        ma_device_start(&device);
        // An open that kept the output missing for a while is back only once sound flows.
        if (steadyNanoseconds() - began > silentNs)
            markMissing();
    } else {
        markMissing();
    }
    callSinceNs = 0;
    openingSinceNs = 0;
}

void OutputKeeper::watch()
{
    const bool running = ma_device_get_state(&device) == ma_device_state_started;
    const auto silent = [this] { return steadyNanoseconds() - takenNs > silentNs; };
    if (running && !silent()) {
        answeredNs = 0;
        // More than any output holds unplayed (PulseAudio grants a stream a few periods of
        // 25 ms): an output that took this much since it was missed is heard.
        const std::int64_t flowing = std::int64_t(output.config.sampleRate) / 4;
        if (missing && takenFrames - framesWhenMissed > flowing)
            missing = false;
        return;
    }
    markMissing();
    // A suspended sink takes nothing, and plays the device on by itself once resumed.
    if (running && suspended)
        return;
    // Lost when its server is gone, or when the server answers and the output still takes
    // nothing a while later (a server restarted under it). A server that was frozen brings the
    // output back by itself meanwhile, and it is kept.
    callSinceNs = steadyNanoseconds();
    const bool answers = running && serverAnswers();
    callSinceNs = 0;
    if (!answers) {
        close();
        return;
    }
    // The probe may have waited for a frozen server: the output's own time runs from its answer.
    if (!silent()) {
        answeredNs = 0;
        return;
    }
    const std::int64_t now = steadyNanoseconds();
    if (answeredNs == 0)
        answeredNs = now;
    if (now - answeredNs > silentNs)
        close();
}

void OutputKeeper::close()
{
    callSinceNs = steadyNanoseconds();
    closeDevice(device);
    callSinceNs = 0;
    opened = false;
}

void OutputKeeper::markMissing()
{
    if (missing)
        return;
    framesWhenMissed = takenFrames;
    missing = true;
}
