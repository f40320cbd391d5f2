#include "fuzz/targets/FuzzSupport.h"
#include "fuzz/targets/FuzzTargets.h"

#include "renderer/Errors.h"
#include "renderer/Renderer.h"
#include "renderer/SceneLoader.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>

namespace velquin::fuzz {
namespace {

// Whether the scene asks for more geometry than a tiny render should build: procedural meshes
// of many segments, emitters of many particles, long lists. Such inputs only load.
bool heavy(const nlohmann::json& j) {
    if (j.is_object()) {
        for (auto it = j.begin(); it != j.end(); ++it) {
            const nlohmann::json& v = it.value();
            if ((it.key() == "segments" || it.key() == "rate") && v.is_number() &&
                v.get<double>() > 64.0)
                return true;
            if (heavy(v))
                return true;
        }
    } else if (j.is_array()) {
        if (j.size() > 4096)
            return true;
        for (const nlohmann::json& v : j)
            if (heavy(v))
                return true;
    }
    return false;
}

} // namespace

int fuzzRender(const std::uint8_t* data, std::size_t size) {
    registerPluginClass();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<renderer::RenderScene> scene;
    try {
        scene = renderer::loadScene(text, "fuzz.json", scratchFolder());
    } catch (const renderer::BadInput&) {
        return 0;
    }
    // Loaded, so the text is JSON.
    if (heavy(nlohmann::json::parse(text)))
        return 0;
    // A tiny image of one frame near frame 0, few samples and bounces: every ray the scene's
    // values can make, in little time.
    renderer::RenderSettings& s = scene->settings;
    s.width = std::min(s.width, 8);
    s.height = std::min(s.height, 6);
    s.spp = std::min(s.spp, 2);
    s.maxDepth = std::min(s.maxDepth, 2);
    const int frame = std::clamp(s.frameStart, -30, 30);
    renderer::RenderOptions options;
    options.threads = 1;
    try {
        renderer::Renderer r(*scene, options);
        r.begin(frame);
        renderer::FrameStats stats;
        r.renderFrame(frame, stats);
        r.end();
    } catch (const renderer::OutOfMemory&) {
    }
    return 0;
}

} // namespace velquin::fuzz
