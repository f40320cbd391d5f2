#include "fuzz/targets/FuzzSupport.h"
#include "fuzz/targets/FuzzTargets.h"

#include "renderer/Errors.h"
#include "renderer/SceneLoader.h"

#include <string>

namespace velquin::fuzz {

int fuzzScene(const std::uint8_t* data, std::size_t size) {
    registerPluginClass();
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        // The scene and every object it made are torn down here, so faults in the teardown
        // count too.
        auto scene = renderer::loadScene(text, "fuzz.json", scratchFolder());
    } catch (const renderer::BadInput&) {
    }
    return 0;
}

} // namespace velquin::fuzz
