#pragma once

#include <SFML/Window/ContextSettings.hpp>
#include <SFML/Window/WindowHandle.hpp>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// What the program needs from the operating system and the GL driver beyond the windowing
// library: each system's half in a source of its own, the GL context's in one for both.
namespace Platform {

// A connection to the display the window will open on (on X11: the one DISPLAY names), held
// while it lives. Holding it keeps a display server that has no other client from resetting
// between this check and the window's own connection.
class DisplayConnection {
public:
    DisplayConnection();
    ~DisplayConnection();
    DisplayConnection(const DisplayConnection&) = delete;
    DisplayConnection& operator=(const DisplayConnection&) = delete;

    // False when no window can be opened at all.
    bool available() const;
    // False where the display can make no OpenGL context (an X server without GLX, as some
    // remote and virtual displays are): the windowing library would crash trying.
    bool offersOpenGL() const;
    static constexpr const char* noOpenGLMessage =
        "demo: this display offers no OpenGL (its X server has no GLX extension)\n";

    // The screen's own size where the display has no video modes to offer (an X server without
    // the RandR extension): the windowing library's full screen needs them, and crashes without
    // them, so the show then covers the screen with a plain window of this size. {0, 0} where
    // the display offers its modes.
    struct Size {
        unsigned width = 0;
        unsigned height = 0;
    };
    Size screenWithoutModes() const;
    // Asks the window manager, if one runs, to show the plain window full screen.
    void requestFullScreen(sf::WindowHandle window) const;

private:
    friend class WindowTitle;
    friend class DisplayKeptOn;
    friend class ScreenWatch;
    void* handle = nullptr;
};

// Tells when the screen the full-screen show covers changes size (a projector or display
// switched, xrandr): on X11 the root window's own configure events, read without waiting.
class ScreenWatch {
public:
    // `window`: the size the full-screen window was made at, which the screen had then.
    ScreenWatch(const DisplayConnection& display, DisplayConnection::Size window);
    ScreenWatch(const ScreenWatch&) = delete;
    ScreenWatch& operator=(const ScreenWatch&) = delete;

    // True once per change, with the screen's new size.
    bool changed(DisplayConnection::Size& size);

private:
    void* display = nullptr;
    DisplayConnection::Size last;
    bool missed = false;
};

// Sets the title of a window the windowing library made, from the caller's fixed buffer and
// without allocating: the live window's title follows the show time while frames are drawn,
// and the library's own setter converts through heap-allocated strings. `ascii` is the same
// title in plain ASCII, for the X11 property that older tools read (Windows needs only utf8).
class WindowTitle {
public:
    WindowTitle(const DisplayConnection& display, sf::WindowHandle window);
    WindowTitle(const WindowTitle&) = delete;
    WindowTitle& operator=(const WindowTitle&) = delete;

    void set(const char* utf8, const char* ascii) const;

private:
    void* display = nullptr;
    sf::WindowHandle window;
    unsigned long nameProperty = 0; // X11: _NET_WM_NAME, of type
    unsigned long utf8Type = 0;     // UTF8_STRING
};

// Requests to end the program from outside while it lives: SIGINT, SIGTERM and SIGHUP on POSIX;
// the console's Ctrl-C, Ctrl-Break and close events on Windows. The handlers only record the
// request; the loops poll it and shut down normally. One instance at a time.
class StopRequests {
public:
    StopRequests();
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // The signal's number (SIGINT 2, SIGTERM 15, SIGHUP 1, Ctrl-Break counting as SIGTERM and a
    // closed console as SIGHUP), or 0 while none came; the first that came, when several did.
    // Exit with 128 + it, as shells expect.
    int received() const;
};

// Opens `path` (UTF-8) for writing in binary, as fopen does; null with errno set on failure.
std::FILE* openForWriting(const std::string& path);

// A program run with an argument vector (never through a shell), its standard input a pipe
// that we write, its standard output and error kept by us where no other process can reach them
// (in memory on Linux, an unnamed temporary file on Windows) for writtenOutput().
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess(); // kills and reaps a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // arguments[0] is the program's full path. False when it could not be started.
    bool start(const std::vector<std::string>& arguments);
    // Writes all of it; false when the child stopped reading (it ended) or a stop was requested
    // meanwhile (the caller checks StopRequests). A child that neither reads nor ends does not
    // hold a stop up: the write gives up as soon as one is requested.
    bool write(const void* data, std::size_t size);
    // Ends the input and waits: the exit status, or -1 when the child did not exit normally or
    // its status could not be learnt. A stop requested while waiting ends the child (-1).
    int finish(const StopRequests& stop)
    {
        const int status = wait(&stop);
        return stop.received() != 0 ? -1 : status;
    }
    // Ends the child at once and waits for it.
    void kill();
    // All that the child wrote on its standard output and error ("" before it was started).
    std::string writtenOutput() const;

    bool running() const { return started; }

private:
    int wait(const StopRequests* stop);

    bool started = false;
    long long process = 0; // pid, or the process handle on Windows
    long long input = -1;  // the pipe's writing end
    long long output = -1; // the file holding what the child wrote
};

// The folder holding the running executable, without a trailing separator.
std::string executableDirectory();
// The full path of `program` found on PATH (on Windows with ".exe"), or empty.
std::string findProgram(const std::string& program);
// Whether standard error goes to a terminal (a progress bar can then redraw in place).
bool standardErrorIsTerminal();
int processId();

// The context every mode asks for, windowed or not: default attributes give a compatibility
// context where the system has one; the show also runs on the core profile some give instead.
// `debug` asks for a debug context, whose driver checks and reports more (--gl-errors).
sf::ContextSettings showContextSettings(bool debug = false);

// Major and minor version parsed from a GL_VERSION string such as "4.5 (Compatibility Profile)
// Mesa 22.3.6"; {0, 0} when the string is null or malformed.
struct GLVersion {
    int major = 0;
    int minor = 0;
};

GLVersion parseGLVersion(const char* versionString);

// The shaders declare "#version 330".
inline bool supportsShaders(GLVersion version)
{
    return version.major > 3 || (version.major == 3 && version.minor >= 3);
}

// Reports every error the GL driver raises, one line each on standard error, through the
// context's debug output (OpenGL 4.3 or KHR_debug), while it lives; the context must stay
// current. Where the context has no debug output it says so once and reports nothing.
class GLErrorReport {
public:
    GLErrorReport();
    ~GLErrorReport();
    GLErrorReport(const GLErrorReport&) = delete;
    GLErrorReport& operator=(const GLErrorReport&) = delete;

    int errors() const { return count; }

private:
    bool listening = false;
    int count = 0;
};

// Loads the entry points beyond GL 1.1 for the current context and checks that it can run the
// shaders; when it cannot, says so in one line on standard error and returns false.
bool loadGLEntryPoints();

} // namespace Platform
