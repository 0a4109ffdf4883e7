#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// A worker thread and the block it lives in, released by whichever of the worker and the block's
// owner lets go last: the owner waits for the worker only so long, and where it gives up, the
// worker releases the block once it is done. So an owner never waits unboundedly for a worker
// stuck in a call that does not return.
class HandOver {
public:
    // Runs `work` on a thread of its own; false where no thread can be had.
    bool start(std::function<void()> work);
    bool started() const { return worker.joinable(); }

    // The worker, as the last thing it does with the block: true where the owner gave up
    // waiting, so that the worker releases the block now and touches nothing of it after.
    bool done();

    // The owner: waits up to `timeout` for the worker to be done. True when it was (its thread
    // is joined, and the owner releases the block); false when not (the worker will).
    bool waitFor(std::chrono::milliseconds timeout);

private:
    std::thread worker;
    std::mutex mutex;
    std::condition_variable finished;
    bool workerDone = false;
    bool ownerGone = false;
};
