#include "fuzz/targets/FuzzSupport.h"
#include "fuzz/targets/FuzzTargets.h"

#include "renderer/Errors.h"
#include "renderer/SceneLoader.h"

#include <iterator>
#include <string>

namespace velquin::fuzz {

int fuzzMesh(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    constexpr std::size_t kCount = std::size(kMeshExtensions);
    const std::string ext = kMeshExtensions[(data[0] & 0x7f) % kCount];
    const bool colors = (data[0] & 0x80) != 0;
    // The mesh goes through a scene's mesh node, as a user's file would: the loader's checks,
    // the importer and the conversion into the host mesh all take part.
    const std::string path = writeScratchFile("mesh." + ext, data + 1, size - 1);
    std::string scene = R"({"nodes": [{"name": "m", "type": "mesh", "file": ")" + path + "\"";
    if (colors)
        scene += R"(, "vertexColors": {"axis": "z", "from": [1, 0, 0], "to": [0, 0, 1]})";
    scene += "}]}";
    try {
        auto loaded = renderer::loadScene(scene, "mesh.json", scratchFolder());
    } catch (const renderer::BadInput&) {
    }
    return 0;
}

} // namespace velquin::fuzz
