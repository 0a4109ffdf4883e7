// The browser's player: the show on a WebGL 2 canvas, its music through Web Audio. The page
// (page.html and its scripts) opens it, fetches the soundtrack into the file system, and hands
// over on the click with webStart; from then on the browser's animation frames drive frame().
// The page's show element (media.js) is the only caller of the other exports: it plays,
// pauses and seeks through them, and hears of each frame through Module.onFrame.

#include "player/show_clock.h"
#include "player/timeline.h"

#include "music/music.h"
#include "show/show.h"
#include "show/show_cues.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

// What the page reports, by number, in page.html's messages.
enum OpenResult { opened = 0, noWebGl2 = 1, noHalfFloatTarget = 2 };

// What the page asked since the last frame, for the music to follow in it.
struct KeyRequests {
    bool pauseToggled = false;
    bool jumped = false;
    bool picture = false;
};

// Everything the page's show owns. The scene lives from opening to the page's end; the targets
// follow the canvas's size, the music each start.
struct WebShow {
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = 0;
    std::optional<ShowScene> scene;
    std::optional<PassTargets> targets;
    std::optional<PassInputs> inputs;
    std::optional<Kest::RenderTarget> output;
    std::unique_ptr<Music> music;
    Timeline timeline{0.0, 0.0, false};
    FreeClock freeClock;
    SeenPicture seen;
    double scale = 1.0;
    Letterbox passes{0, 0, 0, 0};
    int canvasWidth = 0;
    int canvasHeight = 0;
    bool running = false;
    bool lost = false; // the graphics context is gone: nothing starts again
    KeyRequests requests;
    std::vector<unsigned char> picture; // the last picture read back, grown only on resize
    char title[64] = {};
};

std::int64_t microsecondsNow()
{
    return static_cast<std::int64_t>(emscripten_get_now() * 1000.0);
}

// Sizes the canvas to its place on the page in device pixels; new targets when that changed.
void fitCanvas(WebShow& show)
{
    double cssWidth = 0.0, cssHeight = 0.0;
    emscripten_get_element_css_size("#canvas", &cssWidth, &cssHeight);
    const double ratio = emscripten_get_device_pixel_ratio();
    const int width = std::max(1, static_cast<int>(std::lround(cssWidth * ratio)));
    const int height = std::max(1, static_cast<int>(std::lround(cssHeight * ratio)));
    // The targets are also dropped by a new render scale, and made again here.
    if (width == show.canvasWidth && height == show.canvasHeight && show.targets)
        return;
    show.canvasWidth = width;
    show.canvasHeight = height;
    emscripten_set_canvas_element_size("#canvas", width, height);
    const Letterbox picture = computeLetterbox(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    show.inputs.reset();
    show.targets.reset();
    show.passes = passSize(picture, show.scale);
    show.targets.emplace(show.passes);
    show.output.emplace(static_cast<int>(picture.x), static_cast<int>(picture.y), picture.width, picture.height);
    show.inputs.emplace(*show.scene, *show.targets);
    show.picture.resize(static_cast<size_t>(picture.width) * picture.height * 4);
}

void showTitle(WebShow& show, float t, bool paused)
{
    std::snprintf(show.title, sizeof show.title, "demo \u2014 %.2f s%s", static_cast<double>(t),
                  paused ? " (paused)" : "");
    MAIN_THREAD_EM_ASM({ document.title = UTF8ToString($0); }, show.title);
}

// Reads the picture just drawn (the bars left out) and hands it to the page, which saves it or
// gives it to whoever asked.
void handOverPicture(WebShow& show, long long milliseconds)
{
    const Kest::RenderTarget& out = *show.output;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(out.x, out.y, static_cast<GLsizei>(out.width), static_cast<GLsizei>(out.height), GL_RGBA,
                 GL_UNSIGNED_BYTE, show.picture.data());
    MAIN_THREAD_EM_ASM({ Module.onPicture($0, $1, $2, $3); }, show.picture.data(), out.width, out.height,
                       static_cast<double>(milliseconds));
}

void frame(void* context)
{
    WebShow& show = *static_cast<WebShow*>(context);
    fitCanvas(show);
    const std::int64_t microseconds = microsecondsNow();
    const double now = show.freeClock.read(microseconds);
    KeyRequests requests = show.requests;
    show.requests = {};
    Timeline::Frame step = show.timeline.frame(now);
    if (step.over) {
        show.running = false;
        emscripten_cancel_main_loop();
        show.music.reset();
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, show.canvasWidth, show.canvasHeight);
        glClear(GL_COLOR_BUFFER_BIT);
        MAIN_THREAD_EM_ASM({ Module.onEnd(); });
        return;
    }
    renewAfterKeys(show.freeClock, microseconds, step, requests.pauseToggled, requests.jumped);
    const long long milliseconds = showMilliseconds(step.t);
    const float t = requests.picture ? static_cast<float>(static_cast<double>(milliseconds) / 1000.0) : step.t;
    drawShowFrame(*show.scene, *show.targets, *show.inputs, *show.output, t);
    if (requests.picture)
        handOverPicture(show, milliseconds);
    showTitle(show, t, show.timeline.paused());
    // The browser shows the frame once this returns; the music keeps to it, as the window's does.
    keepTheMusicOnThePicture(show.music.get(), show.timeline, t, show.seen.presented(now));
    MAIN_THREAD_EM_ASM({ Module.onFrame($0, $1, $2, $3); }, static_cast<double>(t), show.timeline.paused() ? 1 : 0,
                       show.passes.width, show.passes.height);
}

EM_BOOL onContextLost(int, const void*, void* context)
{
    WebShow& show = *static_cast<WebShow*>(context);
    if (show.running)
        emscripten_cancel_main_loop();
    show.running = false;
    show.lost = true;
    show.music.reset();
    MAIN_THREAD_EM_ASM({ Module.onContextLost(); });
    return EM_TRUE;
}

WebShow& theShow()
{
    // The page holds one show for its whole life; the browser never ends the program.
    static WebShow show;
    return show;
}

} // namespace

extern "C" {

// Makes the WebGL 2 context and the scene: opened, or why not.
EMSCRIPTEN_KEEPALIVE int webOpen(double scale)
{
    WebShow& show = theShow();
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.majorVersion = 2;
    attributes.minorVersion = 0;
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_FALSE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE;
    attributes.premultipliedAlpha = EM_FALSE;
    show.context = emscripten_webgl_create_context("#canvas", &attributes);
    if (show.context <= 0)
        return noWebGl2;
    emscripten_webgl_make_context_current(show.context);
    // The passes render to half floats: WebGL 2 draws into them only with this extension.
    if (!emscripten_webgl_enable_extension(show.context, "EXT_color_buffer_float"))
        return noHalfFloatTarget;
    show.scale = scale;
    show.scene.emplace();
    // The seek bar marks the shots, and previous/next track goes to them.
    MAIN_THREAD_EM_ASM({ Module.onOpened(Array.from(HEAPF32.subarray($0 >> 2, ($0 >> 2) + $1)), $2); },
                       ShowCues::shotStarts, ShowCues::shotCount, ShowCues::showLength);
    fitCanvas(show);
    emscripten_set_webglcontextlost_callback("#canvas", &show, EM_FALSE, onContextLost);
    return opened;
}

// Starts the show at `start` seconds, with the soundtrack from the file system when there is
// one; called from the click, as browsers let sound begin only after a gesture. `held`: paused
// at once, the picture of `start` held (the page's ?still). Returns whether the music plays.
EMSCRIPTEN_KEEPALIVE int webStart(double start, int loop, int withSound, int held)
{
    WebShow& show = theShow();
    if (show.lost)
        return 0;
    show.music.reset();
    if (withSound != 0)
        show.music = std::make_unique<Music>("/valdrim.mp3", static_cast<float>(start), true);
    const bool playing = show.music && show.music->isPlaying();
    if (!playing)
        show.music.reset();
    show.freeClock = FreeClock{};
    show.seen = SeenPicture{};
    show.freeClock.restart(microsecondsNow());
    show.timeline = Timeline(start, show.freeClock.read(microsecondsNow()), loop != 0);
    show.requests = {};
    if (held != 0)
        show.timeline.pause(show.freeClock.read(microsecondsNow()));
    show.running = true;
    emscripten_set_main_loop_arg(frame, &show, 0, EM_FALSE);
    return playing ? 1 : 0;
}

// Asks for the next frame's picture (Module.onPicture receives it), as the S key does.
EMSCRIPTEN_KEEPALIVE void webRequestPicture()
{
    theShow().requests.picture = true;
}

// Holds (1) or resumes (0) the running show; the music follows in the next frame.
EMSCRIPTEN_KEEPALIVE void webSetPaused(int paused)
{
    WebShow& show = theShow();
    if (!show.running || (paused != 0) == show.timeline.paused())
        return;
    show.timeline.togglePause(show.freeClock.read(microsecondsNow()));
    show.requests.pauseToggled = !show.requests.pauseToggled;
}

// Jumps to `seconds` (kind 0), to the next shot (1) or to the previous one (-1).
EMSCRIPTEN_KEEPALIVE void webSeek(int kind, double seconds)
{
    WebShow& show = theShow();
    if (!show.running)
        return;
    const double clock = show.freeClock.read(microsecondsNow());
    if (kind > 0)
        show.timeline.nextShot(clock);
    else if (kind < 0)
        show.timeline.previousShot(clock);
    else
        show.timeline.seekTo(clock, seconds);
    show.requests.jumped = true;
}

// The show time now, as the next frame would draw it (before its music correction).
EMSCRIPTEN_KEEPALIVE double webTime()
{
    WebShow& show = theShow();
    return show.timeline.now(show.freeClock.read(microsecondsNow()));
}

// Where the music heard is, in seconds (-1 without one), for the benchmark's picture-to-sound lag.
EMSCRIPTEN_KEEPALIVE double webHeard()
{
    WebShow& show = theShow();
    const std::optional<double> heard = show.music ? show.music->heardSeconds() : std::nullopt;
    return heard ? *heard : -1.0;
}

// Renders the passes at `scale` times the picture's size from the next frame on; the picture's
// place and size stay.
EMSCRIPTEN_KEEPALIVE void webSetScale(double scale)
{
    WebShow& show = theShow();
    if (scale == show.scale || !show.scene)
        return;
    show.scale = scale;
    show.inputs.reset();
    show.targets.reset();
}

} // extern "C"

int main()
{
    // The page calls webOpen once the runtime is ready.
    return 0;
}
