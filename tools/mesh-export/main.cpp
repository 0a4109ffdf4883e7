// mesh-export: writes the catalogue solids and the ground lattice as Wavefront OBJ files, so
// that any 3-D viewer or third-party tool can inspect them. No GL context is needed.
//
//   mesh-export DIR           DIR/<solid>.obj with DIR/<solid>.mtl for each solid, DIR/ground.obj
//   mesh-export --render DIR  DIR/<solid>.png: a flat-shaded view of each solid

#include "export.h"

#include "assets/catalogue.h"

#include <fstream>
#include <iostream>
#include <string>

namespace {

bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out)
        std::cerr << "mesh-export: cannot write " << path << "\n";
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    const bool render = argc == 3 && std::string(argv[1]) == "--render";
    if (argc != 2 && !render) {
        std::cerr << "usage: mesh-export [--render] DIR\n";
        return 2;
    }
    const std::string dir = argv[argc - 1];
    bool ok = true;
    for (const Assets::CatalogueEntry& entry : Assets::polytopeCatalogue()) {
        const std::string stem = dir + "/" + entry.name;
        if (render) {
            ok &= writeFile(stem + ".png", meshexport::encodePng(meshexport::renderSolid(entry.tables(), entry.scale, 480)));
        } else {
            ok &= writeFile(stem + ".obj", meshexport::solidObj(entry.name, entry.tables(), entry.scale,
                                                               std::string(entry.name) + ".mtl"));
            ok &= writeFile(stem + ".mtl", meshexport::solidMtl(entry.tables()));
        }
    }
    if (!render)
        ok &= writeFile(dir + "/ground.obj", meshexport::groundObj());
    return ok ? 0 : 1;
}
