#pragma once

#include "part.h"

#include <glm/mat4x4.hpp>

#include <cstddef>
#include <vector>

namespace Kest {

// A flat list of part instances with parent links, evaluated and drawn in one pass.
class Model {
public:
    static constexpr size_t none = static_cast<size_t>(-1);

    struct part_instance {
        glm::mat4 worldTransform;
        glm::mat4 transform;
        size_t part;    // index into *parts; none (or any index past the end) draws nothing
        size_t parent;  // lower index than this instance, or none
    };

    std::vector<part_instance> instances;
    std::vector<Texture::Binding> bindings;
    std::vector<Part>* parts;

    explicit Model(std::vector<Part>& parts);

    size_t addPart(size_t part, const glm::mat4& transform, size_t parent);
    Model& setTransform(size_t instance, const glm::mat4& transform);
    Model& setParent(size_t instance, size_t parent);
    Model& setPart(size_t instance, size_t part);
    // Composes every world transform in list order, then draws base × world per instance.
    Model& draw(const glm::mat4& base);
};

} // namespace Kest
