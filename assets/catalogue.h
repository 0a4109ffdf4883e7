#pragma once

// The hub and the star polyhedra: each one's static tables and scale, reachable without GL
// so that tests and tools read exactly what the builders upload.

#include "polytope.h"

#include "engine/part.h"

#include <array>
#include <string_view>

namespace Assets {

struct CatalogueEntry {
    const char* name;               // builder name without "create", lower case: "hub", "sco2"
    const polytope& (*tables)();    // the builder's static tables
    float scale;                    // applied to the points, not to the normals
    Kest::Part& (*build)(Kest::Part&);
};

// In the order the scene appends them: hub, then the ring.
const std::array<CatalogueEntry, 8>& polytopeCatalogue();

// The entry of that name, or null.
const CatalogueEntry* findCatalogueEntry(std::string_view name);

} // namespace Assets
