#include "table.h"

#include <fstream>

namespace geometry {

bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

bool fileHolds(const std::string& path, const std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream read;
    read << in.rdbuf();
    return (in ? read.str() : std::string()) == text;
}

} // namespace geometry
