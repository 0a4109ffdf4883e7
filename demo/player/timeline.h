#pragma once

// The live show's time as a watcher moves it: pausing, jumps, and the end (or, looping, the
// start again). Pure arithmetic on a clock the caller reads, so that it is tested without a window.

class Timeline {
public:
    // The show starts at `start` seconds when the clock reads `clock`.
    Timeline(double start, double clock, bool loop);

    // The show time at `clock`; it may lie past the end until frame() is called.
    double now(double clock) const;
    bool paused() const { return held; }

    // A paused show holds its time rounded to hundredths of a second, as the title shows it, so
    // that the frame held is exactly the one --still draws at the time shown.
    void pause(double clock);
    void resume(double clock);
    void togglePause(double clock);

    // Jumps keep the show paused or running. A time before 0 becomes 0; one past the end ends
    // the show at the next frame(), or starts it again with loop.
    void seekTo(double clock, double showTime);
    void seekBy(double clock, double seconds);
    // To the first shot start after now (past the last: the end).
    void nextShot(double clock);
    // To the start of the current shot, or of the one before within its first half second, so
    // that pressing again keeps going back.
    void previousShot(double clock);

    // What the frame at `clock` draws. Past the end the show is over, or, looping, starts again
    // from 0 (restarted: the music must go back too).
    struct Frame {
        float t = 0.0f;
        bool over = false;
        bool restarted = false;
    };
    Frame frame(double clock);

    // Half a second: within this much of a shot's start, previousShot goes to the one before.
    static constexpr double previousShotGrace = 0.5;

private:
    void setPosition(double clock, double showTime);

    double position; // the show time at `reference`, or while held
    double reference;
    bool held = false;
    bool loop;
};

// Whether the show draws a frame at `seconds`, judged in single precision as the show sees it:
// 86.399999 rounds to 86.4, where nothing is drawn.
bool inShow(double seconds);

// The show time in whole milliseconds, never rounded up past the last frame: a screenshot is
// drawn at exactly the time its name gives.
long long showMilliseconds(float t);
