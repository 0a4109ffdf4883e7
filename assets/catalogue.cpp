#include "catalogue.h"

#include "assets.h"
#include "polytope_mesh.h"

#include <cstdint>
#include <iterator>

namespace Assets {

namespace {

// Each function owns one solid's tables (generated files in tables/) and describes them.
const polytope& hubTables()
{
#include "tables/hub.inc"
    static const polytope description{points, indices, std::size(indices), colours};
    return description;
}

const polytope& gticosidodecaTables()
{
#include "tables/gticosidodeca.inc"
    static const polytope description{points, indices, std::size(indices), colours};
    return description;
}

const polytope& dodecadodecaTables()
{
#include "tables/dodecadodeca.inc"
    static const polytope description{points, indices, std::size(indices), colours};
    return description;
}

const polytope& tsi22Tables()
{
#include "tables/tsi22.inc"
    static const polytope description{points, indices, std::size(indices), colours};
    return description;
}

const polytope& sco2Tables()
{
#include "tables/sco2.inc"
    static const polytope description{points, indices, std::size(indices), colours};
    return description;
}

const polytope& srtc15Tables()
{
#include "tables/srtc15.inc"
    static const polytope description{points, indices, std::size(indices), colours};
    return description;
}

const polytope& srtc35Tables()
{
#include "tables/srtc35.inc"
    static const polytope description{points, indices, std::size(indices), colours};
    return description;
}

const polytope& tsi28Tables()
{
#include "tables/tsi28.inc"
    static const polytope description{points, indices, std::size(indices), colours};
    return description;
}

// The decimals as stored in single precision, not the irrational numbers they approach: they
// bring the star polyhedra to outer radii between 4.19 and 4.98.
constexpr float hubScale = 5.0f;
constexpr float gticosidodecaScale = 2.618f;
constexpr float dodecadodecaScale = 4.0f;
constexpr float tsi22Scale = 0.5f;
constexpr float sco2Scale = 2.236f;
constexpr float srtc15Scale = 0.618f;
constexpr float srtc35Scale = 0.8f;
constexpr float tsi28Scale = 1.0f;

Kest::Part& build(Kest::Part& part, const polytope& tables, float scale)
{
    const polytope description = tables; // lives only for this call, like the builder's record
    createPolytope(part, description, scale);
    return part;
}

} // namespace

const std::array<CatalogueEntry, 8>& polytopeCatalogue()
{
    static const std::array<CatalogueEntry, 8> entries{{
        {"hub", hubTables, hubScale, createHub},
        {"gticosidodeca", gticosidodecaTables, gticosidodecaScale, createGTicosidodeca},
        {"dodecadodeca", dodecadodecaTables, dodecadodecaScale, createDodecadodeca},
        {"tsi22", tsi22Tables, tsi22Scale, createTSI22},
        {"sco2", sco2Tables, sco2Scale, createSCO2},
        {"srtc15", srtc15Tables, srtc15Scale, createSRTC15},
        {"srtc35", srtc35Tables, srtc35Scale, createSRTC35},
        {"tsi28", tsi28Tables, tsi28Scale, createTSI28},
    }};
    return entries;
}

const CatalogueEntry* findCatalogueEntry(std::string_view name)
{
    for (const CatalogueEntry& entry : polytopeCatalogue())
        if (name == entry.name)
            return &entry;
    return nullptr;
}

} // namespace Assets

Kest::Part& createHub(Kest::Part& part) { return Assets::build(part, Assets::hubTables(), Assets::hubScale); }
Kest::Part& createGTicosidodeca(Kest::Part& part)
{
    return Assets::build(part, Assets::gticosidodecaTables(), Assets::gticosidodecaScale);
}
Kest::Part& createDodecadodeca(Kest::Part& part)
{
    return Assets::build(part, Assets::dodecadodecaTables(), Assets::dodecadodecaScale);
}
Kest::Part& createTSI22(Kest::Part& part) { return Assets::build(part, Assets::tsi22Tables(), Assets::tsi22Scale); }
Kest::Part& createSCO2(Kest::Part& part) { return Assets::build(part, Assets::sco2Tables(), Assets::sco2Scale); }
Kest::Part& createSRTC15(Kest::Part& part)
{
    return Assets::build(part, Assets::srtc15Tables(), Assets::srtc15Scale);
}
Kest::Part& createSRTC35(Kest::Part& part)
{
    return Assets::build(part, Assets::srtc35Tables(), Assets::srtc35Scale);
}
Kest::Part& createTSI28(Kest::Part& part) { return Assets::build(part, Assets::tsi28Tables(), Assets::tsi28Scale); }
