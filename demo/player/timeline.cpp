#include "timeline.h"

#include "show/choreography.h"
#include "show/show_cues.h"

#include <cmath>

namespace {

// The nearest hundredth inside the show: the hundredth nearest `seconds` can round up to 86.4.
double toHundredths(double seconds)
{
    double hundredths = std::round(seconds * 100.0);
    if (!inShow(hundredths / 100.0) && inShow(seconds))
        hundredths -= 1.0;
    return hundredths / 100.0;
}

} // namespace

bool inShow(double seconds)
{
    return seconds >= 0.0 && segmentAt(static_cast<float>(seconds)) <= lastSegment;
}

long long showMilliseconds(float t)
{
    long long milliseconds = std::llround(static_cast<double>(t) * 1000.0);
    if (!inShow(static_cast<double>(milliseconds) / 1000.0))
        --milliseconds;
    return milliseconds;
}

Timeline::Timeline(double start, double clock, bool loop_)
    : position(start)
    , reference(clock)
    , loop(loop_)
{
}

double Timeline::now(double clock) const
{
    return held ? position : position + (clock - reference);
}

void Timeline::setPosition(double clock, double showTime)
{
    showTime = showTime > 0.0 ? showTime : 0.0;
    position = held && inShow(showTime) ? toHundredths(showTime) : showTime;
    reference = clock;
}

void Timeline::pause(double clock)
{
    if (held)
        return;
    const double t = now(clock);
    held = true;
    setPosition(clock, t);
}

void Timeline::resume(double clock)
{
    if (!held)
        return;
    held = false;
    setPosition(clock, position);
}

void Timeline::togglePause(double clock)
{
    if (held)
        resume(clock);
    else
        pause(clock);
}

void Timeline::seekTo(double clock, double showTime)
{
    setPosition(clock, showTime);
}

void Timeline::seekBy(double clock, double seconds)
{
    setPosition(clock, now(clock) + seconds);
}

void Timeline::nextShot(double clock)
{
    // Compared as the show sees times, in single precision: a held 4.80 is shot 2's 4.8f.
    const float t = static_cast<float>(now(clock));
    for (const float start : ShowCues::shotStarts)
        if (start > t)
            return setPosition(clock, start);
    setPosition(clock, ShowCues::showLength);
}

void Timeline::previousShot(double clock)
{
    const float t = static_cast<float>(now(clock) - previousShotGrace);
    float target = 0.0f;
    for (const float start : ShowCues::shotStarts)
        if (start <= t)
            target = start;
    setPosition(clock, target);
}

Timeline::Frame Timeline::frame(double clock)
{
    Frame frame;
    if (!inShow(now(clock))) {
        if (!loop) {
            frame.over = true;
            return frame;
        }
        setPosition(clock, 0.0);
        frame.restarted = true;
    }
    frame.t = static_cast<float>(now(clock));
    return frame;
}
