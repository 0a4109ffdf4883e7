#pragma once

// Builders that fill a freshly constructed Kest::Part with static geometry and return it.

#include "engine/part.h"

// Full-screen quads.
Kest::Part& createSky(Kest::Part& part);        // clip space, -1 to 1
Kest::Part& createBloomfield(Kest::Part& part); // unit square, binds one texture
Kest::Part& createViewfield(Kest::Part& part);  // unit square, binds two textures

// The hexagonal lattice of the terrain.
Kest::Part& createGround(Kest::Part& part);
// The same triangles for a ground program without a geometry stage: each its own three
// vertices ("corner0" to "corner2", the triangle's lattice points, and "cornerIndex", which of
// them the vertex is).
Kest::Part& createGroundCorners(Kest::Part& part);

// The hub tower and the star polyhedra of the ring.
Kest::Part& createHub(Kest::Part& part);
Kest::Part& createGTicosidodeca(Kest::Part& part);
Kest::Part& createDodecadodeca(Kest::Part& part);
Kest::Part& createTSI22(Kest::Part& part);
Kest::Part& createSCO2(Kest::Part& part);
Kest::Part& createSRTC15(Kest::Part& part);
Kest::Part& createSRTC35(Kest::Part& part);
Kest::Part& createTSI28(Kest::Part& part);
