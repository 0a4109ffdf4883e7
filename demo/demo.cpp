#include "gl_version.h"
#include "letterbox.h"
#include "platform.h"
#include "projection.h"

#include "music.h"
#include "render_target.h"

#include <GL/glew.h>
#include <SFML/System/Clock.hpp>
#include <SFML/Window.hpp>
#include <glm/mat4x4.hpp>

#include <cstdio>

namespace {

constexpr float showLength = 86.4f;

// Everything made after the window lives in here, so that it is released in reverse order of
// construction while the window's context is still current.
void run(sf::Window& window)
{
    // 4. The 16:9 picture and its viewport.
    const sf::Vector2u windowSize = window.getSize();
    const Letterbox picture = computeLetterbox(windowSize.x, windowSize.y);
    glViewport(static_cast<GLint>(picture.x), static_cast<GLint>(picture.y),
               static_cast<GLsizei>(picture.width), static_cast<GLsizei>(picture.height));

    // 9. Projection.
    const glm::mat4 projection = loadProjection();
    (void)projection;

    // 10. Fixed GL state.
    glEnable(GL_TEXTURE_2D);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearDepthf(1.0f);
    glDepthRangef(0.1f, 1000.0f);
    glDepthFunc(GL_LESS);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);

    // 12. The soundtrack starts at once.
    Music soundtrack;

    // 13. Off-screen targets, each followed by its texture.
    Kest::RenderTarget sceneTarget(picture.width, picture.height, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    Kest::Texture sceneTexture = sceneTarget.createHdrBuffer(picture.width, picture.height, 0);
    Kest::RenderTarget blurTargetA(picture.width, picture.height, 0);
    Kest::Texture blurTextureA = blurTargetA.createHdrBuffer(picture.width, picture.height, 0);
    Kest::RenderTarget blurTargetB(picture.width, picture.height, 0);
    Kest::Texture blurTextureB = blurTargetB.createHdrBuffer(picture.width, picture.height, 0);

    // 14. The letterbox rectangle of the window, from the window size read anew.
    const sf::Vector2u windowSizeNow = window.getSize();
    Kest::RenderTarget windowTarget(static_cast<int>((windowSizeNow.x - picture.width) >> 1),
                                    static_cast<int>((windowSizeNow.y - picture.height) >> 1),
                                    picture.width, picture.height);

    // 15. Every off-screen target must be complete; report once if any is not.
    bool complete = true;
    for (const Kest::RenderTarget* target : {&sceneTarget, &blurTargetA, &blurTargetB}) {
        glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
        complete = complete && glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    }
    if (!complete)
        std::printf("Framebuffer not complete!\n"), std::fflush(stdout);

    // 17. The clock starts last: its elapsed time is the show's time.
    sf::Clock clock;

    for (;;) {
        sf::Event event;
        bool closed = false;
        while (window.pollEvent(event))
            closed = closed || event.type == sf::Event::Closed;
        if (closed || sf::Keyboard::isKeyPressed(sf::Keyboard::Escape))
            break;
        const float t = clock.getElapsedTime().asSeconds();
        if (static_cast<unsigned>(t / 2.4f) > 35u || t >= showLength)
            break;
        windowTarget.bind();
        glClear(GL_COLOR_BUFFER_BIT);
        window.display();
    }
}

} // namespace

int main()
{
    // The windowing library aborts without a display; end clearly instead.
    if (!Platform::displayAvailable()) {
        std::fprintf(stderr, "demo: no display to open a window on (is DISPLAY set?)\n");
        return 1;
    }

    // 1. Full-screen window at the desktop resolution; default attributes give a
    // compatibility context, which still has the fixed-function matrix stack.
    sf::ContextSettings settings;
    settings.depthBits = 24;
    settings.stencilBits = 8;
    settings.antialiasingLevel = 0;
    settings.majorVersion = 3;
    settings.minorVersion = 0;
    settings.attributeFlags = sf::ContextSettings::Default;
    settings.sRgbCapable = false;
    sf::Window window(sf::VideoMode::getDesktopMode(), "OpenGL", sf::Style::Fullscreen, settings);

    // 2.
    window.setVerticalSyncEnabled(true);
    window.setMouseCursorVisible(false);

    // 3. Entry points beyond GL 1.1.
    glewExperimental = GL_TRUE;
    glewInit();

    const GLVersion version = parseGLVersion(reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    if (!supportsShaders(version)) {
        std::fprintf(stderr, "demo: OpenGL 3.3 or later is needed, but the context is OpenGL %d.%d\n",
                     version.major, version.minor);
        window.close();
        return 1;
    }

    run(window);
    window.close();
    return 0;
}
