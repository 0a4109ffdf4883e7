// The browser's player: the show on a WebGL 2 canvas, its music through Web Audio. The page
// (page.html and its scripts) opens it, fetches the soundtrack into the file system, and hands
// over on the click with webStart; from then on the browser's animation frames drive frame(),
// and while the show is held nothing is drawn but what a seek, a picture or a new size asks for.
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

// The show's clock at a playback rate: the free clock's seconds, run `rate` times as fast from
// the moment the rate was set, so that slow motion and fast forward move the same timeline.
struct RatedClock {
    double rate = 1.0;
    double freeAtChange = 0.0;
    double ratedAtChange = 0.0;

    double read(double freeSeconds) const { return ratedAtChange + rate * (freeSeconds - freeAtChange); }
    void setRate(double freeSeconds, double newRate)
    {
        ratedAtChange = read(freeSeconds);
        freeAtChange = freeSeconds;
        rate = newRate;
    }
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
    RatedClock ratedClock;
    SeenPicture seen;
    double scale = 1.0;
    Letterbox passes{0, 0, 0, 0};
    int canvasWidth = 0;
    int canvasHeight = 0;
    bool running = false;     // started and not over: the main loop is set
    bool drawing = false;     // the main loop runs (it is paused while the show is held)
    bool lost = false;        // the graphics context is gone until the browser restores it
    bool heldByLoss = false;  // the show was playing when the context was lost
    bool soundWanted = false; // the page has a soundtrack for this start
    bool soundPartial = false; // the music was opened on a soundtrack still arriving
    KeyRequests requests;
    std::vector<unsigned char> picture; // the last picture read back, grown only on resize
    char title[64] = {};
};

std::int64_t microsecondsNow()
{
    return static_cast<std::int64_t>(emscripten_get_now() * 1000.0);
}

// The show's clock now: the free clock at the playback rate.
double showClock(const WebShow& show)
{
    return show.ratedClock.read(show.freeClock.read(microsecondsNow()));
}

// Draws frames again after the show was held, for one frame at least.
void wake(WebShow& show)
{
    if (show.running && !show.drawing && !show.lost) {
        show.drawing = true;
        emscripten_resume_main_loop();
    }
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
    const double freeSeconds = show.freeClock.read(microseconds);
    const double now = show.ratedClock.read(freeSeconds);
    KeyRequests requests = show.requests;
    show.requests = {};
    Timeline::Frame step = show.timeline.frame(now);
    if (step.over) {
        show.running = false;
        show.drawing = false;
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
    const bool held = show.timeline.paused();
    showTitle(show, t, held);
    // The browser shows the frame once this returns; the music keeps to it, as the window's does,
    // and is silent while the picture runs at another rate than its own.
    const double seenLag = show.seen.presented(freeSeconds);
    if (show.music && show.ratedClock.rate != 1.0)
        show.music->follow(static_cast<double>(t), false);
    else
        keepTheMusicOnThePicture(show.music.get(), show.timeline, t, seenLag);
    // A held picture stays on the canvas: nothing is drawn until something changes it.
    if (held) {
        show.drawing = false;
        emscripten_pause_main_loop();
    }
    MAIN_THREAD_EM_ASM({ Module.onFrame($0, $1, $2, $3); }, static_cast<double>(t), held ? 1 : 0,
                       show.passes.width, show.passes.height);
}

// The scene and its targets, made anew on the current context (at opening and after a loss).
bool makeScene(WebShow& show)
{
    // The passes render to half floats: WebGL 2 draws into them only with this extension.
    if (!emscripten_webgl_enable_extension(show.context, "EXT_color_buffer_float"))
        return false;
    show.inputs.reset();
    show.targets.reset();
    show.output.reset();
    show.scene.reset();
    show.scene.emplace();
    show.canvasWidth = 0;
    fitCanvas(show);
    return true;
}

// A lost context holds the show where it is; the browser restores it (the handler's true asks
// for that), and the show goes on from there.
EM_BOOL onContextLost(int, const void*, void* context)
{
    WebShow& show = *static_cast<WebShow*>(context);
    show.lost = true;
    if (show.running) {
        const double clock = showClock(show);
        show.heldByLoss = !show.timeline.paused();
        if (show.heldByLoss)
            show.timeline.pause(clock);
        if (show.music)
            show.music->follow(show.timeline.now(clock), false);
        if (show.drawing)
            emscripten_pause_main_loop();
        show.drawing = false;
    }
    MAIN_THREAD_EM_ASM({ Module.onContextLost(); });
    return EM_TRUE;
}

EM_BOOL onContextRestored(int, const void*, void* context)
{
    WebShow& show = *static_cast<WebShow*>(context);
    emscripten_webgl_make_context_current(show.context);
    if (!makeScene(show))
        return EM_TRUE;
    show.lost = false;
    if (show.running) {
        if (show.heldByLoss) {
            show.timeline.resume(showClock(show));
            show.requests.pauseToggled = !show.requests.pauseToggled;
        }
        show.heldByLoss = false;
        wake(show);
    }
    MAIN_THREAD_EM_ASM({ Module.onContextRestored(); });
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
    // The seek bar marks the shots, and previous/next track goes to them (the video's too).
    MAIN_THREAD_EM_ASM({ Module.onOpened(Array.from(HEAPF32.subarray($0 >> 2, ($0 >> 2) + $1)), $2); },
                       ShowCues::shotStarts, ShowCues::shotCount, ShowCues::showLength);
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
    show.scale = scale;
    if (!makeScene(show))
        return noHalfFloatTarget;
    emscripten_set_webglcontextlost_callback("#canvas", &show, EM_FALSE, onContextLost);
    emscripten_set_webglcontextrestored_callback("#canvas", &show, EM_FALSE, onContextRestored);
    return opened;
}

// Milliseconds the drawing of one frame at `scale` takes at show time `t`, waited for: the least
// of up to `frames` frames (the first also makes the targets and readies the programs), stopping
// at one within `limit` ms or beyond ten times it. The canvas shows what was drawn: only while
// the show is not running, or is held behind the video.
EMSCRIPTEN_KEEPALIVE double webProbe(double scale, double t, int frames, double limit)
{
    WebShow& show = theShow();
    if (!show.scene || show.lost)
        return -1.0;
    const double kept = show.scale;
    show.scale = scale;
    show.inputs.reset();
    show.targets.reset();
    double least = -1.0;
    // A block from the middle of the picture: reading it waits for the whole frame (a single
    // pixel is answered sooner by some drivers).
    constexpr int side = 16;
    unsigned char block[side * side * 4];
    for (int i = 0; i < frames; ++i) {
        const double begin = emscripten_get_now();
        fitCanvas(show);
        drawShowFrame(*show.scene, *show.targets, *show.inputs, *show.output, static_cast<float>(t));
        const Kest::RenderTarget& out = *show.output;
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        glReadPixels(out.x + static_cast<int>(out.width) / 2, out.y + static_cast<int>(out.height) / 2, side, side,
                     GL_RGBA, GL_UNSIGNED_BYTE, block);
        const double took = emscripten_get_now() - begin;
        least = least < 0.0 ? took : std::min(least, took);
        if (took <= limit || took > 10.0 * limit)
            break;
    }
    show.scale = kept;
    show.inputs.reset();
    show.targets.reset();
    return least;
}

// Opens the music on the soundtrack in the file system at the picture's time, once it has
// arrived there.
void openMusic(WebShow& show, double t)
{
    show.music = std::make_unique<Music>("/valdrim.mp3", static_cast<float>(t), true);
    if (!show.music->isPlaying())
        show.music.reset();
}

// Starts the show at `start` seconds; called from the click, as browsers let sound begin only
// after a gesture. `sound`: 0 without a soundtrack, 1 with the whole of it in the file system,
// 2 with it still arriving there but past the start, 3 not yet there (webSoundArrived tells of
// more). `held`: paused at once, the
// picture of `start` held (the page's ?still). Returns whether the music plays.
EMSCRIPTEN_KEEPALIVE int webStart(double start, int loop, int sound, int held)
{
    WebShow& show = theShow();
    if (show.lost)
        return 0;
    show.music.reset();
    show.soundWanted = sound != 0;
    show.soundPartial = sound >= 2;
    if (sound == 1 || sound == 2)
        openMusic(show, start);
    show.freeClock = FreeClock{};
    show.seen = SeenPicture{};
    show.freeClock.restart(microsecondsNow());
    show.ratedClock = RatedClock{show.ratedClock.rate, show.freeClock.read(microsecondsNow()), 0.0};
    show.timeline = Timeline(start, showClock(show), loop != 0);
    show.requests = {};
    if (held != 0)
        show.timeline.pause(showClock(show));
    if (show.running)
        emscripten_cancel_main_loop();
    show.running = true;
    show.drawing = true;
    emscripten_set_main_loop_arg(frame, &show, 0, EM_FALSE);
    return show.music ? 1 : 0;
}

// More of the soundtrack is in the file system: `covered` whether it reaches past the show's
// time now, `complete` whether it is whole. The music opens once its part has arrived; one that
// ran out of what had arrived goes on from the picture; one opened on a part is opened again on
// the whole, for its seek table. Returns whether music plays.
EMSCRIPTEN_KEEPALIVE int webSoundArrived(int covered, int complete)
{
    WebShow& show = theShow();
    if (!show.running || !show.soundWanted || show.lost)
        return show.music ? 1 : 0;
    const double t = show.timeline.now(showClock(show));
    if (!show.music || (complete != 0 && show.soundPartial)) {
        if (covered != 0 || complete != 0) {
            show.music.reset();
            show.soundPartial = complete == 0;
            openMusic(show, t);
        }
    } else if (!show.music->heardSeconds() && !show.timeline.paused()) {
        show.music->seek(static_cast<float>(t));
    }
    return show.music ? 1 : 0;
}

// Asks for the next frame's picture (Module.onPicture receives it), as the S key does.
EMSCRIPTEN_KEEPALIVE void webRequestPicture()
{
    WebShow& show = theShow();
    show.requests.picture = true;
    wake(show);
}

// Draws the held picture again (the canvas changed its size).
EMSCRIPTEN_KEEPALIVE void webRedraw()
{
    wake(theShow());
}

// Holds (1) or resumes (0) the running show; the music follows in the next frame.
EMSCRIPTEN_KEEPALIVE void webSetPaused(int paused)
{
    WebShow& show = theShow();
    if (!show.running || (paused != 0) == show.timeline.paused())
        return;
    show.timeline.togglePause(showClock(show));
    show.requests.pauseToggled = !show.requests.pauseToggled;
    wake(show);
}

// Jumps to `seconds` (kind 0), to the next shot (1) or to the previous one (-1).
EMSCRIPTEN_KEEPALIVE void webSeek(int kind, double seconds)
{
    WebShow& show = theShow();
    if (!show.running)
        return;
    const double clock = showClock(show);
    if (kind > 0)
        show.timeline.nextShot(clock);
    else if (kind < 0)
        show.timeline.previousShot(clock);
    else
        show.timeline.seekTo(clock, seconds);
    show.requests.jumped = true;
    wake(show);
}

// Whether the show starts again at its end; taken from now on.
EMSCRIPTEN_KEEPALIVE void webSetLoop(int loop)
{
    WebShow& show = theShow();
    if (!show.running)
        return;
    const double clock = showClock(show);
    const bool held = show.timeline.paused();
    show.timeline = Timeline(show.timeline.now(clock), clock, loop != 0);
    if (held)
        show.timeline.pause(clock);
}

// The picture's speed: 1 as recorded, below for slow motion, above for fast forward (the music
// is silent at any other rate than 1).
EMSCRIPTEN_KEEPALIVE void webSetRate(double rate)
{
    WebShow& show = theShow();
    show.ratedClock.setRate(show.freeClock.read(microsecondsNow()), rate);
    show.requests.jumped = true;
}

// The show time now, as the next frame would draw it (before its music correction).
EMSCRIPTEN_KEEPALIVE double webTime()
{
    WebShow& show = theShow();
    return show.timeline.now(showClock(show));
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
    wake(show);
}

} // extern "C"

int main()
{
    // The page calls webOpen once the runtime is ready.
    return 0;
}
