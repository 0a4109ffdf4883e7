#include "score.h"

#include "instruments.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace Synth {

namespace {

constexpr double beat = barSeconds / 4.0;
constexpr double sixteenth = beat / 4.0;

// Landmarks of the picture, in bars (one bar per segment).
constexpr int firstLanding = 8;  // polytope j lands at bar 8 + 2j: 19.2, 24.0, ... 48.0 s
constexpr int landingCount = 7;
constexpr int waveFront = 16;    // 38.4 s: the front runs out over the terrain
constexpr int drop = 20;         // 48.0 s: the grid spreads and the pit sinks
constexpr int peak = 28;         // 67.2 s: the flash; the ring turns one step per bar
constexpr int lastShot = 32;     // 76.8 s: the picture fades out

double at(int bar, double beats = 0.0)
{
    return bar * barSeconds + beats * beat;
}

double atStep(int bar, int step)
{
    return bar * barSeconds + step * sixteenth;
}

// D minor, kept dark: the ninths and sevenths give the pads their glassy edge.
struct Chord {
    int root;                  // bass note
    std::array<int, 5> tones;  // pad voicing, low to high
};

const Chord Dm9{38, {50, 57, 60, 64, 65}};
const Chord Bbmaj9{34, {46, 53, 57, 60, 62}};
const Chord Gm9{31, {43, 50, 53, 57, 58}};
const Chord A7sus{33, {45, 52, 55, 57, 62}};
const Chord A7b9{33, {45, 52, 55, 58, 61}};
const Chord Fadd9{29, {41, 48, 55, 57, 60}};
const Chord Cadd9{36, {48, 55, 62, 64, 67}};
const Chord DmOpen{38, {50, 57, 62, 64, 65}};

// One chord per bar.
const std::array<const Chord*, barCount> harmony = {
    &Dm9, &Dm9, &Dm9, &Dm9, &Dm9, &Dm9, &Bbmaj9, &Bbmaj9,           // 0-7 intro
    &Dm9, &Dm9, &Bbmaj9, &Bbmaj9, &Gm9, &Gm9, &A7sus, &A7b9,          // 8-15 the landings
    &Dm9, &Bbmaj9, &Gm9, &A7b9,                                       // 16-19 wave front
    &Dm9, &Bbmaj9, &Fadd9, &Cadd9, &Dm9, &Bbmaj9, &Gm9, &A7b9,        // 20-27 drop
    &Dm9, &Bbmaj9, &Cadd9, &A7b9,                                     // 28-31 peak
    &DmOpen, &DmOpen, &DmOpen, &DmOpen,                               // 32-35 fade
};

// How open the pads are over the track (Hz), interpolated in log frequency between
// these points (bar, cutoff): dark in the intro, opening towards each landmark.
double padCutoff(double bar)
{
    struct Point {
        double bar;
        double hz;
    };
    const Point points[] = {{0, 420},  {8, 650},     {15.99, 2000}, {16, 1500}, {19, 1300}, {19.99, 3800},
                            {20, 2400}, {27, 2400}, {27.99, 4500}, {28, 3400}, {32, 3000}, {36, 500}};
    const size_t count = sizeof(points) / sizeof(points[0]);
    if (bar <= points[0].bar)
        return points[0].hz;
    for (size_t i = 1; i < count; ++i)
        if (bar <= points[i].bar) {
            double x = (bar - points[i - 1].bar) / (points[i].bar - points[i - 1].bar);
            return points[i - 1].hz * std::pow(points[i].hz / points[i - 1].hz, x);
        }
    return points[count - 1].hz;
}

struct Routes {
    Output pads;
    Output bass;
    Output arps;
    Output lead;
    Output bells;
    Output drums;
    Output hits;
    Output space;  // drones, wind, swells and risers
};

Routes makeRoutes(Mix& mix)
{
    return Routes{
        Output{&mix, &mix.pumped, 0.35, 0.0},
        Output{&mix, &mix.pumped, 0.0, 0.0},
        Output{&mix, &mix.pumped, 0.25, 0.35},
        Output{&mix, &mix.pumped, 0.3, 0.25},
        Output{&mix, &mix.steady, 0.5, 0.2},
        Output{&mix, &mix.steady, 0.06, 0.0},
        Output{&mix, &mix.steady, 0.25, 0.0},
        Output{&mix, &mix.steady, 0.35, 0.0},
    };
}

void kickAndPump(Mix& mix, const Routes& r, double time, double gain)
{
    kick(r.drums, time, gain);
    mix.pumpTimes.push_back(time);
}

// Pads: one held chord per run of equal bars, the attack and width set by the section.
void padRun(const Routes& r, int firstBar, int lastBar, double gain, double attack, double release,
            double width)
{
    const Chord& chord = *harmony[firstBar];
    PadTone tone;
    tone.cutoffStart = padCutoff(firstBar);
    tone.cutoffEnd = padCutoff(lastBar + 1);
    tone.attack = attack;
    tone.release = release;
    tone.width = width;
    double length = at(lastBar + 1) - at(firstBar);
    for (int note : chord.tones)
        pad(r.pads, at(firstBar), length, note, gain, tone);
}

void padsOver(const Routes& r, int firstBar, int endBar, double gain, double attack, double release,
              double width)
{
    int start = firstBar;
    for (int bar = firstBar + 1; bar <= endBar; ++bar)
        if (bar == endBar || harmony[bar] != harmony[start]) {
            padRun(r, start, bar - 1, gain, attack, release, width);
            start = bar;
        }
}

// A bass pattern of sixteen steps: 'R' root, 'O' octave, 'F' fifth, '-' holds the
// previous note one step longer, '.' rest.
void bassBar(const Routes& r, int bar, const char* pattern, double gain, double cutoffHz, double envelopeHz)
{
    const int root = harmony[bar]->root;
    for (int step = 0; step < 16; ++step) {
        char c = pattern[step];
        if (c != 'R' && c != 'O' && c != 'F')
            continue;
        int note = root + (c == 'O' ? 12 : c == 'F' ? 7 : 0);
        int steps = 1;
        while (step + steps < 16 && pattern[step + steps] == '-')
            ++steps;
        bass(r.bass, atStep(bar, step), steps * sixteenth * 0.8, note, gain, cutoffHz, envelopeHz);
    }
}

// The glittering arpeggio: chord tones an octave or two up, in a pattern that climbs
// and turns back, swinging across the stereo field.
void arpBar(const Routes& r, int bar, int stride, double gain, double brightness, int firstStep = 0)
{
    const std::array<int, 16> order = {0, 3, 5, 7, 2, 4, 6, 9, 1, 3, 5, 8, 4, 6, 7, 9};
    const Chord& chord = *harmony[bar];
    for (int step = firstStep; step < 16; step += stride) {
        int index = order[step];
        int note = chord.tones[index % 5] + 12 * (1 + index / 5);
        double pan = 0.7 * std::sin(twoPi * step / 16.0);
        pluck(r.arps, atStep(bar, step), note, gain, pan, brightness);
    }
}

void hatBar(const Routes& r, int bar, double closed, double open, double accent)
{
    for (int step = 0; step < 16; ++step) {
        double pan = step % 2 == 0 ? -0.3 : 0.3;
        bool offbeat = step % 4 == 2;
        if (open > 0.0 && offbeat)
            hat(r.drums, atStep(bar, step), open, 0.16, 0.1);
        else if (closed > 0.0)
            hat(r.drums, atStep(bar, step), closed * (offbeat ? accent : 1.0), 0.035, pan);
    }
}

// A roll that speeds up and swells over one bar: eighths, then sixteenths, then
// thirty-seconds in the last beat, stopping a sixteenth early so the downbeat that
// follows lands out of a breath of quiet.
void snareRoll(const Routes& r, int bar, double fromGain, double toGain)
{
    double time = at(bar);
    const double end = at(bar + 1) - sixteenth;
    while (time < end - 1e-9) {
        double x = (time - at(bar)) / barSeconds;
        snare(r.drums, time, fromGain + (toGain - fromGain) * x * x);
        time += x < 0.5 ? 2 * sixteenth : x < 0.75 ? sixteenth : sixteenth / 2;
    }
}

// A polytope comes to rest: the approach rises into the moment, then the thud and a
// chime from the chord that is sounding.
void landing(const Routes& r, int bar, double weight)
{
    swell(r.space, at(bar), 1.2, 0.3 * weight);
    boom(r.hits, at(bar), 0.38 * weight);
    crash(r.hits, at(bar), 0.05 * weight, 0.9);
    const Chord& chord = *harmony[bar];
    const double pans[3] = {-0.6, 0.0, 0.6};
    for (int i = 0; i < 3; ++i)
        bell(r.bells, at(bar) + 0.02 * i, chord.tones[2 + i] + 24, 0.12 * weight, pans[i], 1.6);
}

// The ring turns one seventh: a low tom and a metallic strike, with a chord stab while
// the full band plays. The tom stands in for that bar's first kick, pumping the mix in
// its place, so the two never pile up into one peak.
void ringStep(Mix& mix, const Routes& r, int bar, double weight, bool stab)
{
    const Chord& chord = *harmony[bar];
    tom(r.hits, at(bar), chord.root + 12, 0.7 * weight);
    mix.pumpTimes.push_back(at(bar));
    bell(r.bells, at(bar), chord.tones[4] + 12, 0.2 * weight, bar % 2 == 0 ? -0.5 : 0.5, 0.7);
    bell(r.bells, at(bar), chord.tones[2] + 24, 0.12 * weight, bar % 2 == 0 ? 0.5 : -0.5, 0.5);
    if (!stab)
        return;
    crash(r.hits, at(bar), 0.1, 0.35);
    PadTone tone;
    tone.cutoffStart = 5000;
    tone.cutoffEnd = 1200;
    tone.attack = 0.004;
    tone.release = 0.6;
    tone.width = 1.0;
    for (int note : chord.tones)
        pad(r.hits, at(bar), 0.4, note + 12, 0.16 * weight, tone);
}

// Bars 0-7: the terrain and the sky, nothing landed yet. A drone, wind and lone bells;
// each camera cut (bars 2, 4, 6) touched by a soft low pulse; pads enter at bar 4.
void intro(const Routes& r)
{
    drone(r.space, 0.0, at(waveFront), 38, 0.07);
    drone(r.space, at(4), at(waveFront) - at(4), 45, 0.035);
    wind(r.space, 0.0, at(12), 0.2);

    struct Chime {
        int bar;
        double beats;
        int note;
        double pan;
    };
    const Chime chimes[] = {{0, 0.6, 81, -0.4}, {1, 1.0, 88, 0.5},   {2, 0.0, 74, -0.2}, {2, 0.0, 81, 0.3},
                            {3, 2.0, 84, -0.6}, {4, 0.0, 77, 0.4},   {4, 0.0, 86, -0.3}, {5, 1.5, 88, 0.6},
                            {6, 0.0, 82, -0.5}, {6, 0.0, 89, 0.2},   {7, 2.0, 81, 0.5},  {7, 3.0, 84, -0.5}};
    for (const Chime& c : chimes)
        bell(r.bells, at(c.bar, c.beats), c.note, 0.08, c.pan, 2.2);
    for (int cut : {2, 4, 6})
        boom(r.hits, at(cut), 0.15);

    padsOver(r, 4, firstLanding, 0.1, 3.0, 2.0, 1.0);
    // A first glimpse of the arpeggio before the first landing.
    arpBar(r, 7, 2, 0.035, 0.1, 8);
}

// Bars 8-15: the ring assembles. Pads brighten, the bass arrives as long notes and then
// pulses, the arpeggio thickens, and a quiet beat grows; the landings are marked.
void landings(const Routes& r)
{
    padsOver(r, firstLanding, waveFront, 0.12, 1.2, 1.2, 0.9);
    for (int bar = 8; bar < 12; ++bar)
        bassBar(r, bar, "R---------------", 0.5, 160, 250);
    for (int bar = 12; bar < 16; ++bar)
        bassBar(r, bar, "R.R.R.R.R.R.R.R.", 0.5, 220, 450);
    for (int bar = 8; bar < 12; ++bar)
        arpBar(r, bar, 2, 0.09, 0.2 + 0.05 * (bar - 8));
    for (int bar = 12; bar < 16; ++bar)
        arpBar(r, bar, 1, 0.09, 0.45 + 0.08 * (bar - 12));

    for (int bar = 10; bar < 12; ++bar)
        for (int step = 2; step < 16; step += 4)
            hat(r.drums, atStep(bar, step), 0.07, 0.035, step % 8 == 2 ? -0.3 : 0.3);
    for (int bar = 12; bar < 16; ++bar)
        hatBar(r, bar, 0.05, 0.0, 1.8);
}

// Bars 12-15 and the build into the wave front (bar 16): a heartbeat kick, then a roll
// and a riser over bar 15.
void buildToWaveFront(Mix& mix, const Routes& r)
{
    for (int bar = 12; bar < 15; ++bar) {
        kickAndPump(mix, r, at(bar), 0.4);
        if (bar >= 14)
            kickAndPump(mix, r, at(bar, 2), 0.4);
    }
    kickAndPump(mix, r, at(15), 0.45);
    snareRoll(r, 15, 0.06, 0.4);
    riser(r.space, at(15), barSeconds - sixteenth, 0.3);
}

// Bars 16-19: the front runs out over the terrain. A half-time groove; bar 19 strips
// the beat and the bass away and builds into the drop.
void waveFrontSection(Mix& mix, const Routes& r)
{
    crash(r.hits, at(waveFront), 0.15, 1.2);
    padsOver(r, waveFront, drop - 1, 0.13, 0.6, 1.0, 0.9);
    padRun(r, drop - 1, drop - 1, 0.07, 0.6, 0.3, 0.9);  // the build thins out
    for (int bar = waveFront; bar < 19; ++bar) {
        kickAndPump(mix, r, atStep(bar, 0), 0.55);
        kickAndPump(mix, r, atStep(bar, 10), 0.45);
        snare(r.drums, atStep(bar, 8), 0.5);
        hatBar(r, bar, 0.08, 0.0, 1.6);
        hat(r.drums, atStep(bar, 14), 0.1, 0.18, 0.2);
        bassBar(r, bar, "R--O..R-.OR-..O.", 0.65, 260, 700);
        arpBar(r, bar, 1, 0.11, 0.7);
    }
    arpBar(r, 19, 1, 0.06, 0.8);
    snareRoll(r, 19, 0.08, 0.5);
    riser(r.space, at(19), barSeconds - sixteenth, 0.35);
}

// Bars 20-27: the drop, as the grid spreads and the pit sinks. Four on the floor, a
// rolling bass between the kicks, open hats, a chord a bar; bells answer in 24-26 and
// bar 27 falls back to a roll and a riser before the peak.
void dropSection(Mix& mix, const Routes& r)
{
    crash(r.hits, at(drop), 0.2, 1.5);
    boom(r.hits, at(drop), 0.4);
    crash(r.hits, at(24), 0.12, 1.2);
    padsOver(r, drop, peak - 1, 0.12, 0.05, 0.6, 1.0);
    padRun(r, peak - 1, peak - 1, 0.07, 0.3, 0.3, 1.0);
    for (int bar = drop; bar < 27; ++bar) {
        for (int b = 0; b < 4; ++b)
            kickAndPump(mix, r, at(bar, b), 0.62);
        clap(r.drums, at(bar, 1), 0.4);
        clap(r.drums, at(bar, 3), 0.4);
        hatBar(r, bar, 0.08, 0.12, 1.5);
        bassBar(r, bar, bar % 4 == 3 ? ".RRR.RRR.RRR.OFO" : ".RRR.RRR.RRR.RRO", 0.78, 300, 900);
        arpBar(r, bar, 1, 0.12, 0.8);
    }
    arpBar(r, 27, 1, 0.06, 0.9);
    snareRoll(r, 27, 0.1, 0.55);
    riser(r.space, at(27), barSeconds - sixteenth, 0.4);

    struct Answer {
        int bar;
        double beats;
        int note;
    };
    const Answer answers[] = {{24, 0.0, 86}, {24, 1.5, 81}, {24, 3.0, 77}, {25, 0.0, 86}, {25, 1.5, 84},
                              {25, 3.0, 81}, {26, 0.0, 82}, {26, 1.5, 81}, {26, 3.0, 79}};
    for (const Answer& a : answers)
        bell(r.bells, at(a.bar, a.beats), a.note, 0.1, a.beats == 1.5 ? 0.5 : -0.5, 1.2);
}

// Bars 28-31: the flash and the ring's stepped turns. Everything plays, the bass doubled
// an octave up, a melody on top, and a hit on every step of the ring.
void peakSection(Mix& mix, const Routes& r)
{
    boom(r.hits, at(peak), 0.6);
    crash(r.hits, at(peak), 0.25, 2.2);
    padsOver(r, peak, lastShot, 0.12, 0.03, 0.8, 1.0);
    for (int bar = peak; bar < lastShot; ++bar) {
        for (int b = 1; b < 4; ++b)
            kickAndPump(mix, r, at(bar, b), 0.75);
        clap(r.drums, at(bar, 1), 0.45);
        clap(r.drums, at(bar, 3), 0.45);
        snare(r.drums, at(bar, 1), 0.2);
        snare(r.drums, at(bar, 3), 0.2);
        hatBar(r, bar, 0.09, 0.14, 1.5);
        bassBar(r, bar, ".RRR.RRR.RRR.RRR", 0.9, 380, 1400);
        bassBar(r, bar, ".O.O.O.O.O.O.O.O", 0.25, 900, 1500);
        arpBar(r, bar, 1, 0.13, 1.0);
        arpBar(r, bar, 2, 0.06, 1.0, 1);
    }

    struct Note {
        int bar;
        double beats;
        double length;
        int note;
    };
    const Note melody[] = {
        {28, 0.0, 1.5, 69}, {28, 1.5, 0.5, 72}, {28, 2.0, 1.0, 74}, {28, 3.0, 1.0, 77},
        {29, 0.0, 2.0, 76}, {29, 2.0, 1.0, 74}, {29, 3.0, 1.0, 72},
        {30, 0.0, 1.5, 74}, {30, 1.5, 0.5, 76}, {30, 2.0, 2.0, 79},
        {31, 0.0, 2.0, 77}, {31, 2.0, 1.0, 76}, {31, 3.0, 1.0, 73},
        {32, 0.0, 4.0, 74},
    };
    for (const Note& n : melody)
        lead(r.lead, at(n.bar, n.beats), n.length * beat * 0.92, n.note, 0.17);
}

// Bars 32-35: the last shot fades to black. One final chord rings out over a low D,
// and the ring's remaining steps sound as distant strikes; the master fade follows the
// picture's exposure.
void fade(const Routes& r)
{
    crash(r.hits, at(lastShot), 0.18, 2.5);
    boom(r.hits, at(lastShot), 0.45);
    padRun(r, lastShot, barCount - 1, 0.13, 0.02, 3.0, 1.0);
    bass(r.bass, at(lastShot), 3.0, 26, 0.8, 200, 500);
    const Chord& chord = *harmony[lastShot];
    for (int i = 0; i < 5; ++i)
        bell(r.bells, at(lastShot) + 0.03 * i, chord.tones[i] + 24, 0.06, -0.8 + 0.4 * i, 2.5);
}

} // namespace

void writeScore(Mix& mix)
{
    const Routes r = makeRoutes(mix);
    intro(r);
    landings(r);
    buildToWaveFront(mix, r);
    waveFrontSection(mix, r);
    dropSection(mix, r);
    peakSection(mix, r);
    fade(r);

    for (int j = 0; j < landingCount; ++j) {
        int bar = firstLanding + 2 * j;
        landing(r, bar, bar < waveFront ? 1.0 : 1.3);
    }
    for (int bar = peak; bar < barCount; ++bar)
        ringStep(mix, r, bar, bar < lastShot ? 1.0 : 0.7, bar < lastShot);

    std::sort(mix.pumpTimes.begin(), mix.pumpTimes.end());
}

} // namespace Synth
