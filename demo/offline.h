#pragma once

#include "options.h"
#include "platform.h"

#include <SFML/Window/ContextSettings.hpp>

// The context every mode asks for, windowed or not: default attributes give a compatibility
// context, which still has the fixed-function matrix stack.
inline sf::ContextSettings showContextSettings()
{
    sf::ContextSettings settings;
    settings.depthBits = 24;
    settings.stencilBits = 8;
    settings.antialiasingLevel = 0;
    settings.majorVersion = 3;
    settings.minorVersion = 0;
    settings.attributeFlags = sf::ContextSettings::Default;
    settings.sRgbCapable = false;
    return settings;
}

// --still, --capture and --bench: the show rendered off-screen at exact times, with no window
// on the screen. Returns the exit status.
int runOffline(const Options& options, const Platform::StopRequests& stop);
