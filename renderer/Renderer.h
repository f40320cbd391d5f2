// Renders frames of a RenderScene: drives the render objects and instances of the plug-in
// objects through the render and frame brackets, builds the ray server's frame, and traces the
// image in buckets on several threads. Results do not depend on the thread count: every pixel's
// samples come from a generator seeded by the pixel, sample and frame only.
#pragma once

#include "renderer/Image.h"
#include "renderer/Scene.h"

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
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
    // Set (from anywhere, a signal handler included) to stop the render: no bucket starts after
    // it, running buckets stop at their next row, and renderFrame returns what it has, marked
    // interrupted. Not owned; may be null.
    const std::atomic<bool>* stop = nullptr;
};

// Memory ran out in a stage of the render; what() says which, e.g. "out of memory while
// compiling frame 3 for node "cloud"". Plug-ins report their own allocation failures only by
// compiling less (an empty frame, missing colours); the renderer notices those too and throws
// this instead of returning a wrong image.
class OutOfMemory : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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
    long long geometryItems = -1;         // items the instances report (-1: none reports a count)
    std::string geometryItemName;         // what they are, e.g. "metaballs"
    long long droppedNonFinite = 0;       // items the instances left out: a value not finite,
    long long droppedNonPositiveSize = 0; // or a size not above 0
    bool traceCounted = false;            // an instance counted its intersections' work:
    long long marchSamples = 0;           // field samples,
    long long distanceTests = 0;          // distances computed by them,
    long long kernelEvaluations = 0;      // and those within reach;
    long long skippedSamples = 0;         // march samples bounds showed cannot cross;
    long long leafVisits = 0;             // leaves first reached by a ray's march,
    long long candidates = 0;             // and the metaballs of them the ray can reach
    bool interrupted = false;             // stopped before every bucket was rendered
    int bucketsDone = 0;  // buckets rendered in full (the rest are transparent black,
    int bucketsTotal = 0; // or rendered in part when the stop came inside them)
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
    // Throws OutOfMemory when memory runs out and std::runtime_error when a render object
    // refuses to make an instance for another reason.
    void begin(int firstFrame);
    // Renders one frame. With options.stop set, returns early with stats.interrupted and the
    // pixels rendered so far. Throws OutOfMemory naming the stage where memory ran out.
    Image renderFrame(int frame, FrameStats& stats, const ProgressFn& progress = nullptr);
    // Ends the render and destroys the instances; also run by the destructor.
    void end();

    int instanceCount() const;

    // Allocation failures seen in the whole process since the first Renderer was made or this
    // was first called (counted through the new-handler, which plug-ins' allocations reach too).
    static long long allocationFailures();

private:
    // Traces the frame's buckets on the render threads into image.
    void renderBuckets(Image& image, FrameStats& stats, const ProgressFn& progress);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace velquin::renderer
