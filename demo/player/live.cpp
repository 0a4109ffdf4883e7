#include "modes.h"
#include "soundtrack.h"

#include "show/show.h"

#include "engine/render_target.h"
#include "music/music.h"

#include <GL/glew.h>
#include <SFML/System/Clock.hpp>
#include <SFML/Window.hpp>

#include <cstdio>

namespace {

// Everything made after the window lives in here, so that it is released in reverse order of
// construction while the window's context is still current. Returns the exit status.
int play(sf::Window& window, float start, const Platform::StopRequests& stop)
{
    // 4. The 16:9 picture and its viewport.
    const sf::Vector2u windowSize = window.getSize();
    const Letterbox picture = computeLetterbox(windowSize.x, windowSize.y);
    glViewport(static_cast<GLint>(picture.x), static_cast<GLint>(picture.y),
               static_cast<GLsizei>(picture.width), static_cast<GLsizei>(picture.height));

    // 5. to 11. Programs, parts, screen quads, the model, the projection and fixed GL state.
    ShowScene scene;

    // 12. The soundtrack starts at once, from where the show starts.
    const std::string soundtrackPath = findSoundtrack();
    if (soundtrackPath.empty())
        std::fprintf(stderr, "demo: no %s in the working directory or in %s; the show plays in silence\n",
                     soundtrackName, Platform::executableDirectory().c_str());
    Music soundtrack(soundtrackPath.c_str(), start);

    // 13. Off-screen targets, each followed by its texture.
    const PassTargets targets(picture);

    // 14. The letterbox rectangle of the window, from the window size read anew.
    const sf::Vector2u windowSizeNow = window.getSize();
    const Kest::RenderTarget windowTarget(static_cast<int>((windowSizeNow.x - picture.width) >> 1),
                                          static_cast<int>((windowSizeNow.y - picture.height) >> 1),
                                          picture.width, picture.height);

    // 15. and 16. The framebuffer check, then the uniforms and texture bindings that stay.
    const PassInputs inputs(scene, targets);

    // 17. The clock starts last: its elapsed time, after the chosen start, is the show's time.
    sf::Clock clock;

    for (;;) {
        // A close request ends the show at once. So does a press of Escape: the key's state is
        // also read below, but a tap shorter than a frame shows only here, as an event.
        sf::Event event;
        bool ended = false;
        while (!ended && window.pollEvent(event))
            ended = event.type == sf::Event::Closed ||
                    (event.type == sf::Event::KeyPressed && event.key.code == sf::Keyboard::Escape);
        if (ended || sf::Keyboard::isKeyPressed(sf::Keyboard::Escape))
            return 0;
        if (const int signal = stop.received())
            return 128 + signal;

        const float t = start + clock.getElapsedTime().asSeconds();
        if (drawShowFrame(scene, targets, inputs, windowTarget, t).over)
            return 0;
        window.display();
    }
}

} // namespace

int runLiveShow(const Options& options, const Platform::StopRequests& stop)
{
    // The windowing library aborts without a display; end clearly instead.
    const Platform::DisplayConnection display;
    if (!display.available()) {
        std::fprintf(stderr, "demo: no display to open a window on (is DISPLAY set?)\n");
        return 1;
    }

    // 1. Full screen at the desktop resolution, or a fixed window.
    const sf::ContextSettings settings = Platform::showContextSettings();
    sf::Window window;
    if (options.windowed)
        window.create(sf::VideoMode(options.width, options.height), "demo", sf::Style::Titlebar | sf::Style::Close,
                      settings);
    else
        window.create(sf::VideoMode::getDesktopMode(), "OpenGL", sf::Style::Fullscreen, settings);

    // 2.
    window.setVerticalSyncEnabled(true);
    window.setMouseCursorVisible(options.windowed);

    // 3. Entry points beyond GL 1.1, and a context that runs the shaders.
    if (!Platform::loadGLEntryPoints()) {
        window.close();
        return 1;
    }

    const int status = play(window, static_cast<float>(options.start), stop);
    window.close();
    return status;
}
