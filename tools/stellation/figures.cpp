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
    };
    return figures;
}

} // namespace stellation
