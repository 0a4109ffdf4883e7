#include "session_bus.h"

#include <csignal>
#include <fstream>
#include <set>
#include <string>

namespace DemoTest {

PrivateSessionBus::PrivateSessionBus(const std::string& folder)
{
    // It says its address on standard error once it listens.
    daemon = std::make_unique<DemoProcess>(std::vector<std::string>{
        "dbus-daemon", "--session", "--nofork", "--address=unix:path=" + folder + "/session-bus",
        "--print-address=2"});
    std::string said;
    if (waitFor([&] { return (said = daemon->errorSoFar()).find('\n') != std::string::npos; }, 10.0))
        address = said.substr(0, said.find('\n'));
}

void PrivateSessionBus::freeze() const
{
    daemon->signal(SIGSTOP);
}

void PrivateSessionBus::thaw() const
{
    daemon->signal(SIGCONT);
}

FakeScreenSaver::FakeScreenSaver(const std::string& address, const std::string& log_, double delay)
    : log(log_)
{
    std::remove(log.c_str());
    service = std::make_unique<DemoProcess>(
        std::vector<std::string>{FAKE_SCREENSAVER, address, log, "--delay", std::to_string(delay)});
    ready = waitFor("ready", 1, 20.0);
}

std::vector<std::string> FakeScreenSaver::facts() const
{
    std::vector<std::string> lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

size_t FakeScreenSaver::count(const std::string& word) const
{
    size_t n = 0;
    for (const std::string& fact : facts())
        n += fact == word || fact.rfind(word + " ", 0) == 0;
    return n;
}

bool FakeScreenSaver::waitFor(const std::string& word, size_t n, double seconds) const
{
    return DemoTest::waitFor([&] { return count(word) >= n; }, seconds);
}

long FakeScreenSaver::held() const
{
    long granted = 0;
    for (const std::string& fact : facts()) {
        if (fact.rfind("inhibit ", 0) == 0)
            ++granted;
        else if (fact.rfind("uninhibit ", 0) == 0)
            --granted;
        else if (fact.rfind("gone ", 0) == 0)
            granted -= std::stol(fact.substr(fact.rfind(' ') + 1));
    }
    return granted;
}

bool FakeScreenSaver::settled() const
{
    std::set<std::string> asking;
    for (const std::string& fact : facts()) {
        if (fact.rfind("asked ", 0) == 0)
            asking.insert(fact.substr(6));
        else if (fact.rfind("left ", 0) == 0)
            asking.erase(fact.substr(5));
    }
    return asking.empty() && held() == 0;
}

int FakeScreenSaver::finish()
{
    if (!service)
        return -1;
    service->signal(SIGTERM);
    service->wait(20.0);
    service.reset();
    for (const std::string& fact : facts())
        if (fact.rfind("active ", 0) == 0)
            return std::stoi(fact.substr(7));
    return -1;
}

} // namespace DemoTest
