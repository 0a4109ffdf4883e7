#include "figures.h"

namespace stellation {

const SolidFigures& tsi22Figures()
{
    static const SolidFigures figures{geometry::publishedFigures("tsi22"), {}};
    return figures;
}

const SolidFigures& tsi28Figures()
{
    static const SolidFigures figures{
        geometry::publishedFigures("tsi28"),
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
