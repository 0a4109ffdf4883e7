#pragma once

#include "polyhedron.h"

#include <string>

namespace stellation {

// The include file of one solid's tables, as the catalogue builder includes it.
std::string tableSource(const Polyhedron& solid);

// The shortest decimal (7 to 9 significant digits) that reads back as the float nearest to x.
std::string floatLiteral(real x);

} // namespace stellation
