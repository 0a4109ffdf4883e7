#include "demo_process.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace DemoTest {

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// A connection of the test's own to the display. Other clients' windows come and go while the
// test walks them (Wine makes and drops windows as it starts), and a request naming one that is
// gone fails: the default handler would end the test process for that, so here a failure only
// shows in the request's result.
class XConnection {
public:
    explicit XConnection(const std::string& name)
        : display(XOpenDisplay(name.c_str()))
        , previous(XSetErrorHandler(ignoreError))
    {
    }
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;
    ~XConnection()
    {
        if (display != nullptr)
            XCloseDisplay(display);
        XSetErrorHandler(previous);
    }

    Display* const display;

private:
    static int ignoreError(Display*, XErrorEvent*) { return 0; }
    const XErrorHandler previous;
};

Window findNamed(Display* display, Window window, const std::string& title)
{
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name != nullptr) {
        // The live window's title goes on with the show time: "demo - 48.00 s".
        const bool match = title == name || std::string(name).rfind(title + " ", 0) == 0;
        XFree(name);
        if (match)
            return window;
    }
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && found == 0; ++i)
            found = findNamed(display, children[i], title);
        if (children != nullptr)
            XFree(children);
    }
    return found;
}

} // namespace

PrivateAudioServer::PrivateAudioServer(bool startNow)
    : socket((std::filesystem::temp_directory_path() / ("demo-test-pulse-" + std::to_string(getpid()) + "-" +
                                                          std::to_string(static_cast<long>(now() * 1e6)) + ".socket"))
                 .string())
    , address("unix:" + socket)
{
    if (startNow)
        start();
}

bool PrivateAudioServer::start()
{
    stop(SIGKILL);
    ready = false;
    std::remove(socket.c_str());
    server = std::make_unique<DemoProcess>(std::vector<std::string>{
        "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--system=false",
        "--use-pid-file=false", "-L", "module-null-sink sink_name=private_null rate=44100 channels=2", "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + socket});
    const std::string probe = "env PULSE_SERVER=" + address + " pactl info >/dev/null 2>&1";
    for (int i = 0; i < 200 && !ready; ++i) {
        ready = std::system(probe.c_str()) == 0;
        if (!ready)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ready;
}

void PrivateAudioServer::signal(int number) const
{
    if (server)
        server->signal(number);
}

void PrivateAudioServer::stop(int number)
{
    if (!server)
        return;
    server->signal(number);
    server->wait(10.0);
    server.reset();
    std::remove(socket.c_str());
}

Exit PrivateAudioServer::finish(double seconds)
{
    Exit exit;
    if (server) {
        exit = server->wait(seconds);
        server.reset();
        std::remove(socket.c_str());
    }
    return exit;
}

double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool waitFor(const std::function<bool()>& condition, double seconds)
{
    for (const double end = now() + seconds; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (now() > end)
            return false;
    return true;
}

XvfbServer::XvfbServer(int width, int height, const std::vector<std::string>& extraArguments)
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    // Made before the fork: the child only execs.
    std::vector<std::string> arguments = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                          std::to_string(width) + "x" + std::to_string(height) + "x24",
                                          "+extension", "GLX", "-nolisten", "tcp", "-noreset", "-br"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    close(fds[1]);
    char buffer[32] = {};
    ssize_t total = 0;
    const double deadline = now() + 20.0;
    while (now() < deadline && total < static_cast<ssize_t>(sizeof buffer) - 1) {
        const ssize_t got = read(fds[0], buffer + total, sizeof buffer - 1 - total);
        if (got <= 0)
            break;
        total += got;
        if (std::memchr(buffer, '\n', static_cast<size_t>(total)))
            break;
    }
    close(fds[0]);
    if (total > 0)
        display = ":" + std::to_string(std::atoi(buffer));
}

XvfbServer::~XvfbServer()
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

DemoProcess::DemoProcess(const std::string& binary, const std::vector<std::string>& environment)
    : DemoProcess(binary, environment, {binary})
{
}

DemoProcess::DemoProcess(const std::string& binary, const std::vector<std::string>& environment,
                         const std::vector<std::string>& launcher)
{
    char outTemplate[] = "/tmp/demo-out-XXXXXX";
    char errTemplate[] = "/tmp/demo-err-XXXXXX";
    const int outFd = mkstemp(outTemplate);
    const int errFd = mkstemp(errTemplate);
    outPath = outTemplate;
    errPath = errTemplate;
    pid = fork();
    if (pid == 0) {
        dup2(outFd, 1);
        dup2(errFd, 2);
        // In sanitizer builds: Mesa's JIT-compiled shader code keeps a few allocations until
        // exit and has no frame pointers, so leak reports from inside it cannot be attributed
        // or suppressed. Address errors are still caught; leaks are checked in the suites that
        // do not run a whole GL driver. A tracer preloaded ahead of the sanitizer's runtime
        // is expected, not a link-order mistake.
        setenv("ASAN_OPTIONS", "detect_leaks=0:verify_asan_link_order=0", 1);
        for (const std::string& entry : environment) {
            const size_t equals = entry.find('=');
            const std::string name = entry.substr(0, equals);
            const std::string value = entry.substr(equals + 1);
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        if (chdir(directoryOf(binary).c_str()) != 0)
            _exit(126);
        std::vector<char*> argv;
        for (const std::string& argument : launcher)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
}

DemoProcess::DemoProcess(const std::vector<std::string>& arguments)
    : DemoProcess(std::filesystem::current_path().string() + "/.", {}, arguments)
{
}

DemoProcess::~DemoProcess()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
}

std::string DemoProcess::errorSoFar() const
{
    return slurp(errPath);
}

void DemoProcess::signal(int signal) const
{
    if (pid > 0)
        kill(pid, signal);
}

bool DemoProcess::catches(int signal) const
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
    return false;
}

Exit DemoProcess::wait(double seconds)
{
    Exit result;
    const double deadline = now() + seconds;
    int status = 0;
    while (pid > 0) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            result.exited = true;
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid = -1;
            break;
        }
        if (now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    return result;
}

bool waitForWindow(const std::string& displayName, const std::string& title, double seconds)
{
    const XConnection connection(displayName);
    Display* display = connection.display;
    if (display == nullptr)
        return false;
    bool found = false;
    const double deadline = now() + seconds;
    while (!found && now() < deadline) {
        const Window window = findNamed(display, DefaultRootWindow(display), title);
        XWindowAttributes attributes;
        found = window != 0 && XGetWindowAttributes(display, window, &attributes) &&
                attributes.map_state == IsViewable;
        if (!found)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return found;
}

namespace {

// Runs use(display, window) on a connection of its own when a window has the title; says
// whether one had.
template <typename Use>
bool onNamedWindow(const std::string& displayName, const std::string& title, Use use)
{
    const XConnection connection(displayName);
    Display* display = connection.display;
    if (display == nullptr)
        return false;
    const Window window = findNamed(display, DefaultRootWindow(display), title);
    if (window != 0)
        use(display, window);
    return window != 0;
}

} // namespace

WindowSize windowSize(const std::string& displayName, const std::string& title)
{
    WindowSize size;
    onNamedWindow(displayName, title, [&](Display* display, Window window) {
        XWindowAttributes attributes;
        Window child = 0;
        if (XGetWindowAttributes(display, window, &attributes))
            size = {attributes.width, attributes.height};
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &size.x, &size.y, &child);
    });
    return size;
}

namespace {

// A window's UTF-8 title; false when it has none (or the window is gone).
bool readUtf8Title(Display* display, Window window, std::string& text)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 256, False,
                           XInternAtom(display, "UTF8_STRING", False), &type, &format, &count, &left,
                           &data) != Success || data == nullptr)
        return false;
    text.assign(reinterpret_cast<const char*>(data), count);
    XFree(data);
    return true;
}

} // namespace

std::string windowTitle(const std::string& displayName, const std::string& title)
{
    std::string text;
    onNamedWindow(displayName, title, [&](Display* display, Window window) { readUtf8Title(display, window, text); });
    return text;
}

struct TitleReader::Connection {
    explicit Connection(const std::string& name)
        : x(name)
    {
    }
    XConnection x;
};

TitleReader::TitleReader(const std::string& display, const std::string& title_)
    : connection(std::make_unique<Connection>(display))
    , title(title_)
{
}

TitleReader::~TitleReader() = default;

std::string TitleReader::read()
{
    Display* display = connection->x.display;
    if (display == nullptr)
        return {};
    if (window == 0)
        window = findNamed(display, DefaultRootWindow(display), title);
    if (window == 0)
        return {};
    std::string text;
    if (!readUtf8Title(display, window, text))
        window = 0; // gone: looked for again next time
    return text;
}

double titleShowTime(const std::string& title)
{
    const std::string dash = "\u2014 ";
    const size_t at = title.find(dash);
    if (at == std::string::npos)
        return -1.0;
    return std::atof(title.c_str() + at + dash.size());
}

bool requestClose(const std::string& displayName, const std::string& title)
{
    return onNamedWindow(displayName, title, [](Display* display, Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
    });
}

bool focusWindow(const std::string& displayName, const std::string& title)
{
    return onNamedWindow(displayName, title, [](Display* display, Window window) {
        XRaiseWindow(display, window);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XSync(display, False);
    });
}

OtherWindow::OtherWindow(const std::string& display, const std::string& title)
    : connection(XOpenDisplay(display.c_str()))
{
    if (connection == nullptr)
        return;
    const Window window = XCreateSimpleWindow(connection, DefaultRootWindow(connection), 0, 0, 200, 100, 0, 0, 0);
    XStoreName(connection, window, title.c_str());
    XSelectInput(connection, window, StructureNotifyMask | KeyPressMask);
    XMapRaised(connection, window);
    for (XEvent event; !shown;) {
        XNextEvent(connection, &event);
        shown = event.type == MapNotify;
    }
    XSetInputFocus(connection, window, RevertToParent, CurrentTime);
    XSync(connection, False);
}

OtherWindow::~OtherWindow()
{
    if (connection != nullptr)
        XCloseDisplay(connection);
}

bool setKey(const std::string& displayName, const char* keysymName, bool pressed)
{
    const XConnection connection(displayName);
    Display* display = connection.display;
    if (display == nullptr)
        return false;
    const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(keysymName));
    const bool sent = code != 0 && XTestFakeKeyEvent(display, code, pressed ? True : False, CurrentTime);
    XSync(display, False);
    return sent;
}

ImageDifference compareImages(const Image& a, const Image& b, int tolerance)
{
    ImageDifference difference;
    for (size_t i = 0; i + 2 < a.rgb.size() && i + 2 < b.rgb.size(); i += 3) {
        int worst = 0;
        for (size_t c = i; c < i + 3; ++c)
            worst = std::max(worst, std::abs(int(a.rgb[c]) - int(b.rgb[c])));
        difference.differing += worst > tolerance;
        difference.largest = std::max(difference.largest, worst);
    }
    return difference;
}

Image readImage(const std::string& path)
{
    const std::string ppm = path + ".ppm";
    Image image;
    if (std::system(("convert " + path + " -depth 8 ppm:" + ppm).c_str()) != 0)
        return image;
    std::ifstream in(ppm, std::ios::binary);
    // Header tokens may be separated by comment lines ("#...").
    auto token = [&in] {
        std::string word;
        while (in >> word && word[0] == '#')
            in.ignore(1 << 16, '\n');
        return word;
    };
    const std::string magic = token();
    image.width = std::atoi(token().c_str());
    image.height = std::atoi(token().c_str());
    const int maxValue = std::atoi(token().c_str());
    in.get();
    if (magic != "P6" || maxValue != 255 || image.width <= 0 || image.height <= 0)
        return Image{};
    image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
    in.read(reinterpret_cast<char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size()));
    std::remove(ppm.c_str());
    return image;
}

Image screenshot(const std::string& display, const std::string& pngPath)
{
    const std::string command = "xwd -silent -root -display " + display + " | convert xwd:- -depth 8 " + pngPath;
    if (std::system(command.c_str()) != 0)
        return Image{};
    return readImage(pngPath);
}


Image grabScreen(const std::string& displayName)
{
    Image image;
    const XConnection connection(displayName);
    Display* display = connection.display;
    if (display == nullptr)
        return image;
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen), height = DisplayHeight(display, screen);
    XImage* grabbed = XGetImage(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (grabbed == nullptr)
        return image;
    image.width = width;
    image.height = height;
    image.rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(grabbed, x, y);
            unsigned char* p = &image.rgb[3 * (static_cast<size_t>(y) * width + x)];
            p[0] = static_cast<unsigned char>((pixel & grabbed->red_mask) >> 16);
            p[1] = static_cast<unsigned char>((pixel & grabbed->green_mask) >> 8);
            p[2] = static_cast<unsigned char>(pixel & grabbed->blue_mask);
        }
    XDestroyImage(grabbed);
    return image;
}

bool waitForScreen(const std::string& display, const std::function<bool(const Image&)>& holds, double seconds)
{
    for (const double end = now() + seconds; now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (holds(grabScreen(display)))
            return true;
    return false;
}

bool waitForPicture(const std::string& display, double seconds)
{
    return waitForScreen(
        display,
        [](const Image& image) {
            return std::any_of(image.rgb.begin(), image.rgb.end(), [](unsigned char c) { return c != 0; });
        },
        seconds);
}

long differingPixels(const Image& a, const Image& b)
{
    if (a.width != b.width || a.height != b.height)
        return -1;
    return compareImages(a, b, 0).differing;
}

double blurredDifference(const Image& a, const Image& b, int block)
{
    double total = 0.0;
    long count = 0;
    for (int by = 0; by + block <= std::min(a.height, b.height); by += block)
        for (int bx = 0; bx + block <= std::min(a.width, b.width); bx += block)
            for (int c = 0; c < 3; ++c) {
                double sa = 0.0, sb = 0.0;
                for (int y = by; y < by + block; ++y)
                    for (int x = bx; x < bx + block; ++x)
                        sa += a.at(x, y)[c], sb += b.at(x, y)[c];
                total += std::abs(sa - sb) / (block * block);
                ++count;
            }
    return count > 0 ? total / count : 1e9;
}

Scratch::Scratch()
{
    char name[] = "/tmp/demo-test-XXXXXX";
    path = mkdtemp(name);
}

Scratch::~Scratch()
{
    std::filesystem::remove_all(path);
}

size_t Scratch::entries() const
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(path), {}));
}

} // namespace DemoTest
