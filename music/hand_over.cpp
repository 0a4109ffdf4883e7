#include "hand_over.h"

#include <system_error>

bool HandOver::start(std::function<void()> work)
{
    try {
        worker = std::thread(std::move(work));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool HandOver::done()
{
    std::lock_guard<std::mutex> lock(mutex);
    workerDone = true;
    finished.notify_one();
    return ownerGone;
}

bool HandOver::waitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (!finished.wait_for(lock, timeout, [this] { return workerDone; })) {
        // Detached under the lock: the worker learns that it releases the block only after this,
        // so the thread's handle is no longer touched when the block goes.
        ownerGone = true;
        worker.detach();
        return false;
    }
    lock.unlock();
    worker.join();
    return true;
}
