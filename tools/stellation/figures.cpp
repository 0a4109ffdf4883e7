#include "figures.h"

namespace stellation {

const SolidFigures& tsi22Figures()
{
    static const SolidFigures figures{
        "tsi22",
        {{12, 1.6180L}, {24, 1.7058L}, {12, 1.9145L}, {20, 2.8025L}, {12, 4.9798L}, {24, 9.8273L}},
        {{12, 8, 0xC440AE}, {12, 5, 0xC440AE}, {96, 3, 0xD6C782}},
        {{8, 2, 1}},
        1.6180L,
        {-9.4339L, 1.618L, -2.227L},
        {-8.5831L, 4.236L, 2.227L},
        {39, 37, 41, 63, 52, 40, 44, 38},
        9.8273L,
        0.5L,
        564,
        444,
        612,
        {},
    };
    return figures;
}

const SolidFigures& tsi28Figures()
{
    static const SolidFigures figures{
        "tsi28",
        {{24, 1.6180L}, {36, 1.7058L}, {24, 1.9145L}, {20, 2.8025L}, {12, 4.9798L}},
        {{12, 4, 0x4020AA}, {24, 3, 0x4020AA}, {12, 6, 0x908060}, {36, 3, 0x908060}, {12, 5, 0x908060},
         {12, 3, 0x33AAFF}},
        {{6, 2, 1}, {5, 1, 0}},
        0,
        {-4.454L, 0, -2.227L},
        {-3.6034L, -2.618L, 2.227L},
        {6, 16, 5, 0},
        4.9798L,
        1,
        504,
        396,
        540,
        // Numbered by x, the points 0 to 5 are the six crossings of least x that every
        // candidate holds (all twelve outer tips and all twenty three-fold crossings are
        // corners): the tip at x = -4.454, two tips at -3.6034, three three-fold crossings at
        // -2.7528 and -2.2270. So 5 is a three-fold crossing at x = -2.2270, next to the tip 0;
        // 6, the other neighbour of 0, is the crossing of least x after those, at -1.8466; and
        // 16 lies opposite the tip. In the diagram that leaves one kite of plane 2 turned
        // outward, or its mirror image (y -> -y) turned towards the centre.
        {{{{-4.4541L, 0, -2.2270L}, {-1.8466L, -0.4472L, -0.2351L}, {-1.3764L, -1.0L, 0.1241L}, {-2.2270L, -1.6180L, -0.5257L}}, false},
         {{{-4.4541L, 0, -2.2270L}, {-1.8466L, 0.4472L, -0.2351L}, {-1.3764L, 1.0L, 0.1241L}, {-2.2270L, 1.6180L, -0.5257L}}, true}},
    };
    return figures;
}

} // namespace stellation
