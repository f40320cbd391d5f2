// Renders frames of a RenderScene: drives the render objects and instances of the plug-in
// objects through the render and frame brackets, builds the ray server's frame, and traces the
// image in buckets on several threads. Results do not depend on the thread count: every pixel's
// samples come from a generator seeded by the pixel, sample and frame only.
#pragma once

#include "renderer/Image.h"
#include "renderer/Scene.h"

#include <functional>
#include <memory>
#include <string>

namespace velquin::renderer {

struct Region {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // pixels [x0, x1) x [y0, y1)
};

struct RenderOptions {
    int threads = 1;
    bool useRegion = false;
    Region region; // only these pixels are traced; the rest stay transparent black
    int bucketSize = 32;
};

struct FrameStats {
    int frame = 0;
    int primitives = 0;     // dynamic primitives the instances registered
    int triangleMeshes = 0; // visible meshes
    long long triangles = 0;
    double compileSeconds = 0.0; // inside the instances' frameBegin (their frame compile)
    double buildSeconds = 0.0;   // acceleration structure over the frame's geometry
    double renderSeconds = 0.0;
    long long cameraRays = 0;
    long long totalRays = 0;
    long long geometryItems = -1; // items the instances report (-1: none reports a count)
    std::string geometryItemName; // what they are, e.g. "metaballs"
};

// Progress of one frame: buckets done of total.
using ProgressFn = std::function<void(int done, int total)>;

class Renderer {
public:
    Renderer(RenderScene& scene, const RenderOptions& options);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Render bracket: creates one render instance per plug-in node that offers a render object.
    // Throws std::runtime_error when a render object refuses to make an instance.
    void begin(int firstFrame);
    Image renderFrame(int frame, FrameStats& stats, const ProgressFn& progress = nullptr);
    // Ends the render and destroys the instances; also run by the destructor.
    void end();

    int instanceCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace velquin::renderer
