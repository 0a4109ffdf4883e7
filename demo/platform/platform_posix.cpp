#include "platform.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <cerrno>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

extern char** environ;

namespace Platform {

namespace {

// A signal handler can reach nothing but static storage; it only records the signal.
volatile std::sig_atomic_t receivedSignal = 0;

// The first request is the one reported: a second Ctrl-C after a SIGTERM does not change why
// the program ended.
void recordSignal(int signal)
{
    if (receivedSignal == 0)
        receivedSignal = signal;
}

constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[3];

// The display's server gone (ended, killed, the connection broken): Xlib cannot go on, and its
// own handler prints a message per connection that sees it and exits from whichever thread met
// it, running the exit handlers while other threads still draw, which ended some runs with 0.
// Here the first thread to meet it says so in one line and ends the process with 1 at once;
// any other waits for that end. Only what a signal handler may do is done.
std::atomic<bool> displayLost{false};

void writeAll(const char* text)
{
    for (size_t left = std::strlen(text); left > 0;) {
        const ssize_t written = ::write(2, text, left);
        if (written <= 0)
            return;
        text += written;
        left -= static_cast<size_t>(written);
    }
}

int endOnDisplayLoss(Display* display)
{
    if (!displayLost.exchange(true)) {
        writeAll("demo: lost the connection to the display ");
        writeAll(display != nullptr ? DisplayString(display) : "");
        writeAll(" (its X server ended or broke the connection)\n");
        _exit(1);
    }
    for (;;)
        pause();
}

} // namespace

DisplayConnection::DisplayConnection()
{
    // For every connection of the process, the windowing library's and GL's included.
    XSetIOErrorHandler(endOnDisplayLoss);
    handle = XOpenDisplay(nullptr);
}

DisplayConnection::~DisplayConnection()
{
    if (handle != nullptr)
        XCloseDisplay(static_cast<Display*>(handle));
}

bool DisplayConnection::available() const
{
    return handle != nullptr;
}

bool DisplayConnection::offersOpenGL() const
{
    int opcode = 0, event = 0, error = 0;
    return handle != nullptr && XQueryExtension(static_cast<Display*>(handle), "GLX", &opcode, &event, &error);
}

DisplayConnection::Size DisplayConnection::screenWithoutModes() const
{
    auto* display = static_cast<Display*>(handle);
    int opcode = 0, event = 0, error = 0;
    if (display == nullptr || XQueryExtension(display, "RANDR", &opcode, &event, &error))
        return {};
    const int screen = DefaultScreen(display);
    return {static_cast<unsigned>(DisplayWidth(display, screen)), static_cast<unsigned>(DisplayHeight(display, screen))};
}

void DisplayConnection::requestFullScreen(sf::WindowHandle window) const
{
    auto* display = static_cast<Display*>(handle);
    if (display == nullptr)
        return;
    // The window manager's full-screen state (without one, the window already covers the screen).
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = window;
    request.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
    request.xclient.format = 32;
    request.xclient.data.l[0] = 1; // _NET_WM_STATE_ADD
    request.xclient.data.l[1] = static_cast<long>(XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False));
    request.xclient.data.l[3] = 1; // from an application
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &request);
    XFlush(display);
}

WindowTitle::WindowTitle(const DisplayConnection& connection, sf::WindowHandle window_)
    : display(connection.handle)
    , window(window_)
{
    if (display == nullptr)
        return;
    nameProperty = XInternAtom(static_cast<Display*>(display), "_NET_WM_NAME", False);
    utf8Type = XInternAtom(static_cast<Display*>(display), "UTF8_STRING", False);
}

void WindowTitle::set(const char* utf8, const char* ascii) const
{
    if (display == nullptr)
        return;
    // Our own connection to the server: a property of any client's window can be set from it.
    auto* connection = static_cast<Display*>(display);
    XChangeProperty(connection, window, nameProperty, utf8Type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8), static_cast<int>(std::strlen(utf8)));
    XStoreName(connection, window, ascii);
    XFlush(connection);
}

ScreenWatch::ScreenWatch(const DisplayConnection& connection, DisplayConnection::Size window)
    : display(connection.handle)
    , last(window)
{
    auto* x = static_cast<Display*>(display);
    if (x == nullptr)
        return;
    // The root window takes the screen's size, and says so to those who listen for its
    // structure. Our own connection carries no other events.
    XSelectInput(x, DefaultRootWindow(x), StructureNotifyMask);
    // A change since the window was made has been missed: asked once, it counts as a change.
    Window root = 0;
    int px = 0, py = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    if (XGetGeometry(x, DefaultRootWindow(x), &root, &px, &py, &width, &height, &border, &depth) &&
        (width != window.width || height != window.height))
        last = {width, height}, missed = true;
}

bool ScreenWatch::changed(DisplayConnection::Size& size)
{
    auto* x = static_cast<Display*>(display);
    if (x == nullptr)
        return false;
    // Reads what has arrived without waiting; several changes at once count as the last.
    XEvent event;
    bool any = missed;
    missed = false;
    while (XCheckTypedWindowEvent(x, DefaultRootWindow(x), ConfigureNotify, &event)) {
        const DisplayConnection::Size now{static_cast<unsigned>(event.xconfigure.width),
                                          static_cast<unsigned>(event.xconfigure.height)};
        if (now.width != last.width || now.height != last.height)
            last = now, any = true;
    }
    if (any)
        size = last;
    return any;
}

StopRequests::StopRequests()
{
    receivedSignal = 0;
    struct sigaction action {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls keep the libraries we call (X11, the GL driver) undisturbed.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(stopSignals); ++i)
        sigaction(stopSignals[i], &action, &previousActions[i]);
}

StopRequests::~StopRequests()
{
    for (size_t i = 0; i < std::size(stopSignals); ++i)
        sigaction(stopSignals[i], &previousActions[i], nullptr);
}

int StopRequests::received() const
{
    return receivedSignal;
}

ChildProcess::~ChildProcess()
{
    if (started)
        kill();
    if (output >= 0)
        close(static_cast<int>(output));
}

bool ChildProcess::start(const std::vector<std::string>& arguments)
{
    // A child that stops reading must show up as a failed write, not end us by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // Its exit status is ours to collect: with SIGCHLD ignored, as some service managers leave
    // it, the system would reap the child itself and waitpid could only say ECHILD.
    std::signal(SIGCHLD, SIG_DFL);

    // What the child says stays in memory: a file in a shared folder could be a link planted
    // by someone else.
    const int log = memfd_create("demo-child-output", MFD_CLOEXEC);
    if (log < 0)
        return false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        close(log);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_adddup2(&actions, log, 1);
    posix_spawn_file_actions_adddup2(&actions, log, 2);
    // Its own process group: a Ctrl-C at the terminal reaches us, and we end the child ourselves.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int result = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    // Ours only: the child's end stays blocking, as programs reading standard input expect.
    fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    // Room for most of a video frame, not 64 KiB of it: each frame then wakes the reader and us a
    // few times instead of some twenty. The system's limit may refuse it; the pipe still works.
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    if (result != 0) {
        close(fds[1]);
        close(log);
        return false;
    }
    if (output >= 0)
        close(static_cast<int>(output));
    process = pid;
    input = fds[1];
    output = log;
    started = true;
    return true;
}

bool ChildProcess::write(const void* data, std::size_t size)
{
    // The pipe does not block (see start): a write that would wait for the child waits here
    // instead, a little at a time, so that a stop is seen while the child reads nothing. The
    // handlers restart system calls, and a blocked write would otherwise never return.
    const int fd = static_cast<int>(input);
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        if (receivedSignal != 0)
            return false;
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                pollfd ready{fd, POLLOUT, 0};
                poll(&ready, 1, 50);
                continue;
            }
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

int ChildProcess::wait(const StopRequests* stop)
{
    if (!started)
        return -1;
    if (input >= 0)
        close(static_cast<int>(input));
    input = -1;
    started = false;
    const pid_t pid = static_cast<pid_t>(process);
    // Polled, so that a stop requested while the child finishes its work is acted on at once.
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR)
            return -1;
        if (stop != nullptr && stop->received() != 0) {
            ::kill(pid, SIGKILL);
            stop = nullptr;
            continue;
        }
        usleep(10000);
    }
}

void ChildProcess::kill()
{
    if (!started)
        return;
    ::kill(static_cast<pid_t>(process), SIGKILL);
    wait(nullptr);
}

std::string ChildProcess::writtenOutput() const
{
    if (output < 0)
        return {};
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    off_t offset = 0;
    while ((got = pread(static_cast<int>(output), buffer, sizeof buffer, offset)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
    return text;
}

std::FILE* openForWriting(const std::string& path)
{
    return std::fopen(path.c_str(), "wb");
}

std::string executableDirectory()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string file(path, static_cast<size_t>(length));
    const size_t slash = file.rfind('/');
    return slash == 0 ? "/" : file.substr(0, slash);
}

std::string findProgram(const std::string& program)
{
    if (program.find('/') != std::string::npos)
        return access(program.c_str(), X_OK) == 0 ? program : std::string();
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= folders.size()) {
        size_t end = folders.find(':', begin);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = end > begin ? folders.substr(begin, end - begin) : ".";
        const std::string candidate = folder + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        begin = end + 1;
    }
    return {};
}

bool standardErrorIsTerminal()
{
    return isatty(2) != 0;
}

int processId()
{
    return static_cast<int>(getpid());
}

} // namespace Platform
