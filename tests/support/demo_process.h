#pragma once

// Linux helpers for the tests that run programs: a private Xvfb screen of a chosen size, the demo
// (or any program) as a child process that the test stops by its process id, and the X requests a
// user would make (Escape, closing the window, a screenshot).

#include "command.h"

#include <sys/types.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct _XDisplay; // Xlib's display connection

namespace DemoTest {

// An Xvfb server with one screen of the given size and a black root window, stopped on
// destruction; `extraArguments` go to Xvfb as they stand (such as "-extension", "RANDR" for a
// server without it).
class XvfbServer {
public:
    XvfbServer(int width, int height, const std::vector<std::string>& extraArguments = {});
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    std::string display; // ":N", empty when the server failed to start
private:
    pid_t pid = -1;
};

struct Exit {
    bool exited = false; // false: still running at the deadline (then killed)
    int status = -1;
    std::string out;
    std::string err;
};

// The demo binary run in its own directory (where valdrim.mp3 lies), with extra environment
// variables ("NAME=value"; "NAME=" alone removes NAME).
class DemoProcess {
public:
    DemoProcess(const std::string& binary, const std::vector<std::string>& environment);
    // Runs `launcher` with `arguments` instead, still in the binary's directory (for tracers).
    DemoProcess(const std::string& binary, const std::vector<std::string>& environment,
                const std::vector<std::string>& launcher);
    // Any program, found on PATH, in the test's own working directory.
    explicit DemoProcess(const std::vector<std::string>& arguments);
    ~DemoProcess();
    DemoProcess(const DemoProcess&) = delete;
    DemoProcess& operator=(const DemoProcess&) = delete;

    // Waits up to `seconds` for the process to end; kills it after that.
    Exit wait(double seconds);
    // Sends `signal` to the process, as a user's Ctrl-C or a service manager would.
    void signal(int signal) const;
    // Whether the process has a handler of its own for `signal` (it then sees it, not dies of it).
    bool catches(int signal) const;
    // What it has written to its standard error so far.
    std::string errorSoFar() const;
    pid_t id() const { return pid; }

private:
    pid_t pid = -1;
    std::string outPath;
    std::string errPath;
};

// A PulseAudio server of the test's own with one null sink, on a private socket, stopped by its
// process id. Clients reach it through PULSE_SERVER=address.
class PrivateAudioServer {
public:
    // Started at once unless `startNow` is false (a server that arrives after its clients).
    explicit PrivateAudioServer(bool startNow = true);
    ~PrivateAudioServer() { stop(SIGKILL); }
    // Starts it, again after stop(), on the same socket; sets and returns `ready`.
    bool start();
    PrivateAudioServer(const PrivateAudioServer&) = delete;
    PrivateAudioServer& operator=(const PrivateAudioServer&) = delete;

    void signal(int number) const;
    // Sends `number` and waits for the server to end.
    void stop(int number);
    // Waits up to `seconds` for a server that should not have ended, then stops it; says how
    // it ended (exited: false when it was still running).
    Exit finish(double seconds);

    std::string socket;
    std::string address; // "unix:" + socket
    bool ready = false;  // it answered within 10 s

private:
    std::unique_ptr<DemoProcess> server;
};

// Seconds of wall-clock time since some fixed point, for waiting loops.
double now();
// Waits up to `seconds` for `condition`, checking it every 20 ms; whether it came.
bool waitFor(const std::function<bool()>& condition, double seconds);

// A window is named `title` when its name is `title` or starts with it and a space (the live
// window's name goes on with the show time).
// Waits until a top-level window named `title` is mapped on `display`.
bool waitForWindow(const std::string& display, const std::string& title, double seconds);
// The size of the mapped top-level window named `title` (0 x 0 when there is none).
struct WindowSize {
    int width = 0;
    int height = 0;
    int x = 0; // where it lies on the screen
    int y = 0;
};
WindowSize windowSize(const std::string& display, const std::string& title);
// The UTF-8 title (_NET_WM_NAME) of the window named `title`; empty when there is none.
std::string windowTitle(const std::string& display, const std::string& title);
// A live window's title read again and again over one connection of the test's own, as often as
// a test polls it: the window is looked for once, then only its title is read.
class TitleReader {
public:
    TitleReader(const std::string& display, const std::string& title);
    ~TitleReader();
    TitleReader(const TitleReader&) = delete;
    TitleReader& operator=(const TitleReader&) = delete;

    // The UTF-8 title now; empty when the window is not (or no longer) there.
    std::string read();

private:
    struct Connection;
    std::unique_ptr<Connection> connection;
    std::string title;
    unsigned long window = 0;
};
// The show time in a live window's title, "demo — 48.00 s (paused)": negative when the title
// holds none (before the first frame).
double titleShowTime(const std::string& title);
// Sends the window manager's close request (WM_DELETE_WINDOW) to the window named `title`.
bool requestClose(const std::string& display, const std::string& title);
// Gives the window named `title` the keyboard focus, as a window manager would on a click
// (needed where the client does not take the focus itself, as under Wine without one).
bool focusWindow(const std::string& display, const std::string& title);
// A window of another application on `display`, mapped, named `title` and given the keyboard
// focus while it lives: what a user's other program is to the demo.
class OtherWindow {
public:
    OtherWindow(const std::string& display, const std::string& title);
    ~OtherWindow();
    OtherWindow(const OtherWindow&) = delete;
    OtherWindow& operator=(const OtherWindow&) = delete;

    bool shown = false; // mapped and focused

private:
    ::_XDisplay* connection = nullptr;
};
// Presses or releases a key through the XTEST extension.
bool setKey(const std::string& display, const char* keysymName, bool pressed);
// An 8-bit RGB picture, rows from the top.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* at(int x, int y) const { return &rgb[3 * (static_cast<size_t>(y) * width + x)]; }
};

// Grabs the whole screen, keeps a PNG copy at `pngPath` for people to look at, and returns it.
Image screenshot(const std::string& display, const std::string& pngPath);
// Grabs the whole screen straight from the server, quickly enough to poll it.
Image grabScreen(const std::string& display);
// Waits until `holds` is true of a grab of the screen; false when it never was within `seconds`.
bool waitForScreen(const std::string& display, const std::function<bool(const Image&)>& holds, double seconds);
// Waits until something is drawn on the screen (its root is black): a show's first picture.
bool waitForPicture(const std::string& display, double seconds);
// Any picture file ImageMagick reads, as 8-bit RGB; empty when it cannot be read.
Image readImage(const std::string& path);

// How far two pictures of the same size are apart: the pixels whose largest channel difference
// exceeds a tolerance, and the largest channel difference of all (in 1/255).
struct ImageDifference {
    int differing = 0;
    int largest = 0;
};
ImageDifference compareImages(const Image& a, const Image& b, int tolerance);
// Pixels that differ between two pictures (-1 when their sizes differ).
long differingPixels(const Image& a, const Image& b);
// The mean difference per channel after averaging blocks of block x block pixels: how alike two
// pictures look from a distance.
double blurredDifference(const Image& a, const Image& b, int block);

// A fresh folder for one test's files, removed with them afterwards.
struct Scratch {
    std::filesystem::path path;
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    size_t entries() const;
};

using TestSupport::commandOutput;

} // namespace DemoTest
