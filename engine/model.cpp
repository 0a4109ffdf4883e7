#include "model.h"

namespace Kest {

Model::Model(std::vector<Part>& parts_)
    : parts(&parts_)
{
}

size_t Model::addPart(size_t part, const glm::mat4& transform, size_t parent)
{
    const glm::mat4 world = parent != none ? instances[parent].worldTransform * transform : transform;
    instances.push_back(part_instance{world, transform, part, parent});
    return instances.size() - 1;
}

Model& Model::setTransform(size_t instance, const glm::mat4& transform)
{
    instances[instance].transform = transform;
    return *this;
}

Model& Model::setParent(size_t instance, size_t parent)
{
    instances[instance].parent = parent;
    return *this;
}

Model& Model::setPart(size_t instance, size_t part)
{
    instances[instance].part = part;
    return *this;
}

Model& Model::draw(const glm::mat4& base)
{
    const Texture::Binding* cursor = bindings.empty() ? nullptr : bindings.data();
    for (part_instance& instance : instances) {
        instance.worldTransform = instance.parent != none
            ? instances[instance.parent].worldTransform * instance.transform
            : instance.transform;
        if (instance.part < parts->size()) {
            const Part& part = (*parts)[instance.part];
            part.drawImpl(base * instance.worldTransform, cursor);
            if (cursor != nullptr)
                cursor += part.textureCount;
        }
    }
    return *this;
}

} // namespace Kest
