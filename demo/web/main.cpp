// The browser's player: the show on a WebGL 2 canvas, its music through Web Audio. The page
// (page.html) opens it, fetches the soundtrack into the file system, and hands over on the
// click with webStart; from then on the browser's animation frames drive webFrame.

#include "player/show_clock.h"
#include "player/timeline.h"

#include "music/music.h"
#include "show/show.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// What the page reports, by number, in page.html's messages.
enum OpenResult { opened = 0, noWebGl2 = 1, noHalfFloatTarget = 2 };

// The keys, as the windowed native show has them; what they ask of the frame.
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
    if (width == show.canvasWidth && height == show.canvasHeight && show.targets)
        return;
    show.canvasWidth = width;
    show.canvasHeight = height;
    emscripten_set_canvas_element_size("#canvas", width, height);
    const Letterbox picture = computeLetterbox(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    show.inputs.reset();
    show.targets.reset();
    show.targets.emplace(passSize(picture, show.scale));
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
}

EM_BOOL onKey(int, const EmscriptenKeyboardEvent* key, void* context)
{
    WebShow& show = *static_cast<WebShow*>(context);
    if (!show.running)
        return EM_FALSE;
    const std::string_view name(key->key);
    const double clock = show.freeClock.read(microsecondsNow());
    const double step = key->shiftKey ? 1.0 : 5.0;
    if (name == " ") {
        show.timeline.togglePause(clock);
        show.requests.pauseToggled = !show.requests.pauseToggled;
        return EM_TRUE;
    }
    if (name == "s" || name == "S") {
        show.requests.picture = true;
        return EM_TRUE;
    }
    if (name == "f" || name == "F") {
        MAIN_THREAD_EM_ASM({ Module.toggleFullscreen(); });
        return EM_TRUE;
    }
    if (name == "ArrowRight")
        show.timeline.seekBy(clock, step);
    else if (name == "ArrowLeft")
        show.timeline.seekBy(clock, -step);
    else if (name == "PageUp")
        show.timeline.nextShot(clock);
    else if (name == "PageDown")
        show.timeline.previousShot(clock);
    else if (name == "Home")
        show.timeline.seekTo(clock, 0.0);
    else
        return EM_FALSE;
    show.requests.jumped = true;
    return EM_TRUE;
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
    fitCanvas(show);
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, &show, EM_FALSE, onKey);
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

} // extern "C"

int main()
{
    // The page calls webOpen once the runtime is ready.
    return 0;
}
