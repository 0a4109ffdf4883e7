#pragma once

// A session bus of the test's own and a desktop's screen-saver service on it, for the tests of
// the display kept on: each a child process stopped by its process id.

#include "demo_process.h"

#include <memory>
#include <string>
#include <vector>

namespace DemoTest {

// dbus-daemon --session listening on a socket in `folder`, reached at `address`
// (DBUS_SESSION_BUS_ADDRESS). freeze() stops it as a hung bus is (SIGSTOP), thaw() lets it go on.
class PrivateSessionBus {
public:
    explicit PrivateSessionBus(const std::string& folder);
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    void freeze() const;
    void thaw() const;

    std::string address; // empty when it did not start within 10 s

private:
    std::unique_ptr<DemoProcess> daemon;
};

// A fake org.freedesktop.ScreenSaver on the bus at `address` (tests/support/fake_screensaver.py),
// answering each Inhibit `delay` seconds after it came, and writing what it was asked in `log`.
class FakeScreenSaver {
public:
    FakeScreenSaver(const std::string& address, const std::string& log, double delay = 0.0);
    FakeScreenSaver(const FakeScreenSaver&) = delete;
    FakeScreenSaver& operator=(const FakeScreenSaver&) = delete;

    // The facts so far, one a line ("asked SENDER", "inhibit COOKIE SENDER APPLICATION",
    // "uninhibit COOKIE SENDER", "gone SENDER COOKIES", "left SENDER", ...; see the script).
    std::vector<std::string> facts() const;
    // How many facts begin with `word`.
    size_t count(const std::string& word) const;
    // Waits up to `seconds` until `count(word)` reaches `n`.
    bool waitFor(const std::string& word, size_t n, double seconds) const;
    // Cookies granted and not yet handed back or dropped with a client that left, by the facts.
    long held() const;
    // Every client that asked has left the bus, and no cookie is held: nothing more can change.
    bool settled() const;
    // Ends the service: how many cookies it still held (-1 when it did not say).
    int finish();

    bool ready = false; // it owns its name on the bus

private:
    std::string log;
    std::unique_ptr<DemoProcess> service;
};

} // namespace DemoTest
