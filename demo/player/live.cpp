#include "modes.h"
#include "offscreen.h"
#include "show_clock.h"
#include "soundtrack.h"
#include "timeline.h"

#include "platform/display_kept_on.h"
#include "show/show.h"

#include "engine/render_target.h"
#include "music/music.h"

#include <GL/glew.h>
#include <SFML/System/Clock.hpp>
#include <SFML/System/Err.hpp>
#include <SFML/Window.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int badCommandLine = 2;

// The title shows the show time to hundredths, at most ten times a second: each change is a
// request to the window server and an event back to the window.
constexpr double titleInterval = 0.1;

// The windowed show's title, kept in fixed buffers so that updating it allocates nothing.
class TitleClock {
public:
    TitleClock(const Platform::DisplayConnection& display, sf::WindowHandle window)
        : title(display, window)
    {
    }

    void show(double clock, double showTime, bool paused)
    {
        if (clock - lastUpdate < titleInterval)
            return;
        lastUpdate = clock;
        const char* state = paused ? " (paused)" : "";
        char utf8[sizeof shown];
        std::snprintf(utf8, sizeof utf8, "demo \u2014 %.2f s%s", showTime, state);
        if (std::strcmp(utf8, shown) == 0)
            return; // held
        std::memcpy(shown, utf8, sizeof shown);
        char ascii[sizeof shown];
        std::snprintf(ascii, sizeof ascii, "demo - %.2f s%s", showTime, state);
        title.set(shown, ascii);
    }

private:
    Platform::WindowTitle title;
    double lastUpdate = -1.0;
    char shown[64] = "";
};

// The windowed show's picture, composited off-screen into a canvas of the window's size, bars and
// all, and copied into the window: the copy is exact, and the canvas is drawn as --still draws
// one of that size, so the window shows the very pixels --still writes (a window's own pixel
// format may round the composite's colours differently, and a picture drawn at another place in
// its framebuffer may be sampled a hair apart). F12 reads the picture, without the bars, from
// here. Everything is made at start-up; writing a file may allocate, once per key press.
class WindowPicture {
public:
    WindowPicture(unsigned windowWidth, unsigned windowHeight, std::string folder_)
        : canvas(windowWidth, windowHeight)
        , folder(std::move(folder_))
        , rgba(static_cast<size_t>(canvas.target.width) * canvas.target.height * 4)
        , rgb(static_cast<size_t>(canvas.target.width) * canvas.target.height * 3)
    {
    }

    const Kest::RenderTarget& target() const { return canvas.target; }

    // The whole canvas into the window's back buffer.
    void copyToWindow() const
    {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, canvas.target.framebuffer);
        const GLint width = static_cast<GLint>(canvas.width), height = static_cast<GLint>(canvas.height);
        glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    }

    // Writes demo-<milliseconds>.png and says so, or says why not; the show goes on either way.
    void write(long long milliseconds)
    {
        const Kest::RenderTarget& picture = canvas.target;
        glBindFramebuffer(GL_READ_FRAMEBUFFER, picture.framebuffer);
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(picture.x, picture.y, static_cast<GLsizei>(picture.width), static_cast<GLsizei>(picture.height),
                     GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        const std::string name = "demo-" + std::to_string(milliseconds) + ".png";
        const std::string path = folder == "." ? name : folder + "/" + name;
        const std::string partial = partialFileName(path, Platform::processId());
        const std::string failure = writeRgbaAsPng(partial, rgba.data(), picture.width, picture.height, rgb.data());
        if (!failure.empty()) {
            removeQuietly(partial);
            std::fprintf(stderr, "demo: could not write the screenshot \"%s\": %s\n", path.c_str(), failure.c_str());
            return;
        }
        if (moveIntoPlace(partial, path))
            std::fprintf(stderr, "demo: wrote %s\n", path.c_str());
    }

private:
    Canvas canvas;
    std::string folder;
    std::vector<unsigned char> rgba;
    std::vector<unsigned char> rgb;
};

// What the keys of the windowed show asked for in one frame's events.
struct KeyRequests {
    bool pauseToggled = false;
    bool jumped = false;
    bool screenshot = false;
};

// Acts on one key press (a held key repeats its press). Arrows jump 5 s, or 1 s with Shift.
void actOnKey(const sf::Event::KeyEvent& key, Timeline& timeline, double clock, KeyRequests& requests)
{
    const double step = key.shift ? 1.0 : 5.0;
    switch (key.code) {
    case sf::Keyboard::Space:
        timeline.togglePause(clock);
        requests.pauseToggled = !requests.pauseToggled;
        return;
    case sf::Keyboard::Right:
        timeline.seekBy(clock, step);
        break;
    case sf::Keyboard::Left:
        timeline.seekBy(clock, -step);
        break;
    case sf::Keyboard::PageUp:
        timeline.nextShot(clock);
        break;
    case sf::Keyboard::PageDown:
        timeline.previousShot(clock);
        break;
    case sf::Keyboard::Home:
        timeline.seekTo(clock, 0.0);
        break;
    case sf::Keyboard::F12:
    case sf::Keyboard::S:
        requests.screenshot = true;
        return;
    default:
        return;
    }
    requests.jumped = true;
}

// Everything made after the window lives in here, so that it is released in reverse order of
// construction while the window's context is still current. Returns the exit status.
int play(sf::Window& window, const Platform::DisplayConnection& display, const Options& options,
         const Platform::StopRequests& stop)
{
    // 4. The 16:9 picture and its viewport.
    const sf::Vector2u windowSize = window.getSize();
    const Letterbox picture = computeLetterbox(windowSize.x, windowSize.y);
    glViewport(static_cast<GLint>(picture.x), static_cast<GLint>(picture.y),
               static_cast<GLsizei>(picture.width), static_cast<GLsizei>(picture.height));

    // 5. to 11. Programs, parts, screen quads, the model, the projection and fixed GL state.
    ShowScene scene;

    // 12. The soundtrack, from where the show starts. It is heard from the first picture shown
    // on, and kept on the picture from then (Music::follow).
    const std::string soundtrackPath = findSoundtrack();
    if (soundtrackPath.empty())
        std::fprintf(stderr, "demo: no %s in the working directory or in %s; the show plays in silence\n",
                     soundtrackName, Platform::executableDirectory().c_str());
    Music soundtrack(soundtrackPath.c_str(), static_cast<float>(options.start), true);

    // 13. Off-screen targets, each followed by its texture. These, the window's rectangle and
    // the bindings are made again when the full screen changes size (see fitScreen below).
    std::optional<PassTargets> targets(std::in_place, passSize(picture, options.scale));

    // 14. The letterbox rectangle of the window, from the window size read anew.
    const sf::Vector2u windowSizeNow = window.getSize();
    std::optional<Kest::RenderTarget> windowTarget(std::in_place,
                                                   static_cast<int>((windowSizeNow.x - picture.width) >> 1),
                                                   static_cast<int>((windowSizeNow.y - picture.height) >> 1),
                                                   picture.width, picture.height);

    // The windowed show's picture, title and screenshots, and with them its keys; the
    // full-screen show composites straight into the window and has only Escape.
    std::optional<WindowPicture> shown;
    std::optional<TitleClock> title;
    if (options.windowed) {
        shown.emplace(windowSizeNow.x, windowSizeNow.y, options.screenshotFolder);
        title.emplace(display, window.getSystemHandle());
    }
    const Kest::RenderTarget* output = shown ? &shown->target() : &*windowTarget;

    // 15. and 16. The framebuffer check, then the uniforms and texture bindings that stay.
    std::optional<PassInputs> inputs(std::in_place, scene, *targets);

    // An installation's show keeps the display awake while it plays, and follows its screen
    // when the venue switches it to another size: the window takes the screen's size and the
    // picture is letterboxed afresh, its targets made again (the one time a frame allocates).
    Platform::DisplayKeptOn awake(display);
    std::optional<Platform::ScreenWatch> screen;
    if (!options.windowed)
        screen.emplace(display, Platform::DisplayConnection::Size{windowSizeNow.x, windowSizeNow.y});
    sf::Vector2u fitted = windowSizeNow;
    int barsToClear = 0;
    bool soundMissing = false;
    const auto fitScreen = [&](sf::Vector2u size) {
        if (size == fitted || size.x == 0 || size.y == 0)
            return;
        fitted = size;
        const Letterbox fit = computeLetterbox(size.x, size.y);
        inputs.reset();
        targets.reset();
        targets.emplace(passSize(fit, options.scale));
        windowTarget.emplace(static_cast<int>(fit.x), static_cast<int>(fit.y), fit.width, fit.height);
        inputs.emplace(scene, *targets);
        output = &*windowTarget;
        // The bars are never drawn over; what the larger window held there is cleared once in
        // each of the swap chain's buffers.
        barsToClear = 3;
    };

    // 17. The clock starts last: its elapsed time, after the chosen start, is the show's time.
    sf::Clock clock;
    // The clock's own float seconds: from the start and untouched by keys, the show's time is
    // exactly the clock's reading, as it has always been, with a soundtrack or without.
    // Restarted at each loop and key, it stays as fine after months.
    FreeClock freeClock;
    const auto seconds = [&clock, &freeClock] { return freeClock.read(clock.getElapsedTime().asMicroseconds()); };
    Timeline timeline(options.start, 0.0, options.loop);
    SeenPicture seen;

    for (;;) {
        // A close request ends the show at once. So does a press of Escape in the show's own
        // window, seen here as an event even when it is a tap shorter than a frame, and a held
        // key as its repeats. Never the keyboard's state, which is the whole keyboard's: Escape
        // held in another application must not end the show. Every event that came is handled
        // before the frame, so that a held key's repeats never queue up behind a slow one.
        sf::Event event;
        bool ended = false;
        KeyRequests requests;
        while (!ended && window.pollEvent(event)) {
            ended = event.type == sf::Event::Closed ||
                    (event.type == sf::Event::KeyPressed && event.key.code == sf::Keyboard::Escape);
            if (title && !ended && event.type == sf::Event::KeyPressed)
                actOnKey(event.key, timeline, seconds(), requests);
            // A window manager that keeps the full-screen window on the screen resizes it itself.
            if (screen && event.type == sf::Event::Resized)
                fitScreen({event.size.width, event.size.height});
        }
        Platform::DisplayConnection::Size screenSize;
        if (screen && screen->changed(screenSize)) {
            window.setSize({screenSize.width, screenSize.height});
            fitScreen({screenSize.width, screenSize.height});
        }
        if (ended)
            return 0;
        if (const int signal = stop.received())
            return 128 + signal;

        const std::int64_t microseconds = clock.getElapsedTime().asMicroseconds();
        const double now = freeClock.read(microseconds);
        Timeline::Frame frame = timeline.frame(now);
        if (frame.over)
            return 0;
        renewAfterKeys(freeClock, microseconds, frame, requests.pauseToggled, requests.jumped);
        awake.update(!timeline.paused(), now);
        // The Music opens its output by itself, off this thread; the show only says when it is missing and back.
        if (soundtrack.outputMissing() != soundMissing) {
            soundMissing = !soundMissing;
            std::fputs(soundMissing ? "demo: no sound output (the sound server is gone, frozen or not there yet, or "
                                      "its sink suspended); the show plays on in silence and looks for it every second\n"
                                    : "demo: the sound output is back\n",
                       stderr);
        }
        if (barsToClear > 0) {
            --barsToClear;
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            glViewport(0, 0, static_cast<GLsizei>(fitted.x), static_cast<GLsizei>(fitted.y));
            glClear(GL_COLOR_BUFFER_BIT);
        }

        const long long shotTime = requests.screenshot ? showMilliseconds(frame.t) : 0;
        const float t = requests.screenshot ? static_cast<float>(static_cast<double>(shotTime) / 1000.0) : frame.t;
        if (drawShowFrame(scene, *targets, *inputs, *output, t).over)
            return 0;
        if (shown) {
            shown->copyToWindow();
            if (requests.screenshot)
                shown->write(shotTime);
            title->show(now, t, timeline.paused());
        }
        window.display();
        // The music keeps to the picture now seen, never the picture to the music.
        keepTheMusicOnThePicture(&soundtrack, timeline, t, seen.presented(seconds()));
    }
}

// The full-screen video mode of the size asked for, or the desktop's, and the style that shows
// it; false (after one line naming the sizes the display does offer) when it offers none of that
// size. A display without video modes offers its screen's own size, covered by a plain window.
bool chooseFullscreenMode(const Options& options, Platform::DisplayConnection::Size screen, sf::VideoMode& mode,
                          sf::Uint32& style)
{
    if (screen.width != 0) {
        mode = sf::VideoMode(screen.width, screen.height);
        style = sf::Style::None;
        if (options.width == 0 || (options.width == screen.width && options.height == screen.height))
            return true;
        std::fprintf(stderr, "demo: the display has no full-screen mode of %ux%u; it offers %ux%u\n", options.width,
                     options.height, screen.width, screen.height);
        return false;
    }
    style = sf::Style::Fullscreen;
    mode = sf::VideoMode::getDesktopMode();
    if (options.width == 0)
        return true;
    std::string offered;
    for (const sf::VideoMode& candidate : sf::VideoMode::getFullscreenModes()) {
        if (candidate.width == options.width && candidate.height == options.height) {
            mode = candidate; // the first of a size is the deepest
            return true;
        }
        // Each size once, though the display may offer it at several depths.
        const std::string size = std::to_string(candidate.width) + "x" + std::to_string(candidate.height);
        if ((", " + offered + ", ").find(", " + size + ", ") == std::string::npos)
            offered += (offered.empty() ? "" : ", ") + size;
    }
    std::fprintf(stderr, "demo: the display has no full-screen mode of %ux%u; it offers %s\n", options.width,
                 options.height, offered.empty() ? "none" : offered.c_str());
    return false;
}

// Keeps the windowing library's error stream quiet while it lives: on a display without video
// modes the library says so at every turn, where the show has nothing to report.
class QuietWindowLibrary {
public:
    QuietWindowLibrary()
        : previous(sf::err().rdbuf(nullptr))
    {
    }
    ~QuietWindowLibrary() { sf::err().rdbuf(previous); }
    QuietWindowLibrary(const QuietWindowLibrary&) = delete;
    QuietWindowLibrary& operator=(const QuietWindowLibrary&) = delete;

private:
    std::streambuf* previous;
};

} // namespace

int runLiveShow(const Options& options, const Platform::StopRequests& stop)
{
    // The windowing library aborts without a display; end clearly instead.
    const Platform::DisplayConnection display;
    if (!display.available()) {
        std::fprintf(stderr, "demo: no display to open a window on (is DISPLAY set?)\n");
        return 1;
    }
    if (!display.offersOpenGL()) {
        std::fprintf(stderr, "%s", Platform::DisplayConnection::noOpenGLMessage);
        return 1;
    }

    // 1. Full screen at the desktop resolution (or the mode asked for), or a fixed window.
    const sf::ContextSettings settings = Platform::showContextSettings(options.glErrors);
    const Platform::DisplayConnection::Size screen = display.screenWithoutModes();
    std::optional<QuietWindowLibrary> quiet;
    if (screen.width != 0)
        quiet.emplace();
    sf::Window window;
    if (options.windowed) {
        window.create(sf::VideoMode(options.width, options.height), "demo", sf::Style::Titlebar | sf::Style::Close,
                      settings);
    } else {
        sf::VideoMode mode;
        sf::Uint32 style = sf::Style::Fullscreen;
        if (!chooseFullscreenMode(options, screen, mode, style))
            return badCommandLine;
        window.create(mode, "OpenGL", style, settings);
        if (style != sf::Style::Fullscreen) {
            window.setPosition(sf::Vector2i(0, 0)); // the library centres it on a screen it cannot measure
            display.requestFullScreen(window.getSystemHandle());
        }
    }
    quiet.reset();

    // 2.
    window.setVerticalSyncEnabled(options.vsync);
    window.setMouseCursorVisible(options.windowed);

    // 3. Entry points beyond GL 1.1, and a context that runs the shaders.
    if (!Platform::loadGLEntryPoints()) {
        window.close();
        return 1;
    }
    // A window larger than GL draws would stay black and silent: said as --still says it.
    const sf::Vector2u size = window.getSize();
    if (const GLint largest = maximumPictureSize();
        size.x > static_cast<unsigned>(largest) || size.y > static_cast<unsigned>(largest)) {
        std::fprintf(stderr, "demo: a window of %ux%u is larger than this OpenGL can render (at most %dx%d)\n", size.x,
                     size.y, largest, largest);
        window.close();
        return 1;
    }

    std::optional<Platform::GLErrorReport> errors;
    if (options.glErrors)
        errors.emplace();
    const int status = play(window, display, options, stop);
    const bool failedByErrors = errors && errors->errors() > 0 && status == 0;
    errors.reset(); // while the context is current
    window.close();
    return failedByErrors ? 1 : status;
}
