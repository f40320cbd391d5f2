#include "renderer/Renderer.h"

#include "platform/max/object.h"
#include "platform/vray/vrender.h"
#include "renderer/EmbreeRayServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace velquin::renderer {
namespace {

using Clock = std::chrono::steady_clock;

// Allocation failures of the whole process. Plug-ins allocate with new (std::nothrow) and, when
// that fails, compile an empty frame or drop colours without telling anyone; the new-handler
// is the one place every failed new passes through, the plug-in's included, so counting there
// lets the renderer see such a failure and refuse the frame.
std::atomic<long long> g_allocationFailures{0};
std::new_handler g_previousNewHandler = nullptr;

void countingNewHandler() {
    g_allocationFailures.fetch_add(1, std::memory_order_relaxed);
    if (g_previousNewHandler) {
        g_previousNewHandler();
        return;
    }
    throw std::bad_alloc(); // what operator new does without a handler
}

void installAllocationCounter() {
    static std::once_flag once;
    std::call_once(once, [] { g_previousNewHandler = std::set_new_handler(countingNewHandler); });
}

long long failuresNow() {
    return g_allocationFailures.load(std::memory_order_relaxed);
}

std::string frameText(int frame) {
    return "frame " + std::to_string(frame);
}

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::uint64_t mix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A number in [0, 1) made only from the pixel, the frame, the sample and the dimension, so that
// every thread count gives the same samples.
float hashUnit(int px, int py, int frame, int sample, int dim) {
    std::uint64_t h = mix64(static_cast<std::uint64_t>(static_cast<std::uint32_t>(px)) |
                            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(py)) << 32));
    h = mix64(h ^ static_cast<std::uint64_t>(static_cast<std::uint32_t>(frame)));
    h = mix64(h ^ (static_cast<std::uint64_t>(static_cast<std::uint32_t>(sample)) << 8) ^
              static_cast<std::uint64_t>(dim));
    return static_cast<float>(h >> 40) * (1.0f / 16777216.0f);
}

Color operator*(const Color& a, const Color& b) {
    return {a.r * b.r, a.g * b.g, a.b * b.b};
}
Color operator*(const Color& a, float s) {
    return {a.r * s, a.g * s, a.b * s};
}
Color operator+(const Color& a, const Color& b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
Color lerp(const Color& a, const Color& b, float u) {
    return a * (1.0f - u) + b * u;
}

Point3 reflectDir(const Point3& d, const Point3& n) {
    return d - n * (2.0f * DotProd(d, n));
}

// Refraction of unit d through a surface with unit normal n facing against d, with eta the ratio
// of the indices (from / to); false on total internal reflection.
bool refractDir(const Point3& d, const Point3& n, float eta, Point3& out) {
    float cosi = -DotProd(d, n);
    float k = 1.0f - eta * eta * (1.0f - cosi * cosi);
    if (k < 0.0f)
        return false;
    out = Normalize(d * eta + n * (eta * cosi - std::sqrt(k)));
    return true;
}

// The camera's frame at t: right, up and backward axes and the position (camera looks down -Z).
Matrix3 cameraToWorld(const Camera& cam, TimeValue t) {
    Point3 pos = cam.position.Get(t);
    Point3 f = Normalize(cam.target.Get(t) - pos);
    Point3 up = cam.up;
    Point3 r = CrossProd(f, up);
    if (r.Length() < 1e-6f) {
        // Looking along the up vector: any perpendicular will do for "up".
        up = std::fabs(f.y) < 0.9f ? Point3(0.0f, 1.0f, 0.0f) : Point3(1.0f, 0.0f, 0.0f);
        r = CrossProd(f, up);
    }
    r = Normalize(r);
    Point3 u = CrossProd(r, f);
    return Matrix3(r, u, -f, pos);
}

} // namespace

struct Renderer::Impl {
    RenderScene& scene;
    RenderOptions options;
    int numThreads = 1;
    VR::VRayCore core;
    EmbreeRayServer server;

    struct InstanceRec {
        VRenderObject* object;
        VRenderInstance* instance;
        int nodeIndex;
    };
    std::vector<VRenderObject*> objects;
    std::vector<InstanceRec> instances;
    bool begun = false;

    // A cache line each: the counters change on every ray.
    struct alignas(64) ThreadData {
        std::vector<std::unique_ptr<VR::VRayContext>> ctx; // one per slot (ray depth)
        VR::RayTagBlock tags;
        long long rays = 0;
        long long cameraRays = 0;
    };
    std::vector<ThreadData> threads;

    // A finished frame's close (the instances' frameEnd: freeing hierarchies and arrays) runs
    // here while the caller writes the image, when the render has threads to spare. Whatever
    // touches the instances next waits for it.
    std::thread closing;
    std::exception_ptr closingFailure;
    // Ends the frame bracket of the render objects and instances that began it.
    void closeFrame(int begunInstances, int begunObjects) {
        server.endFrame();
        for (int k = 0; k < begunInstances; ++k)
            instances[static_cast<std::size_t>(k)].instance->frameEnd(&core);
        for (int k = 0; k < begunObjects; ++k)
            objects[static_cast<std::size_t>(k)]->frameEnd(&core);
    }
    void finishClosing() {
        if (closing.joinable())
            closing.join();
        if (closingFailure) {
            std::exception_ptr e = closingFailure;
            closingFailure = nullptr;
            std::rethrow_exception(e);
        }
    }

    // Per frame.
    int frame = 0;
    Point3 camPos, camRight, camUp, camFwd;
    float tanHalf = 0.0f, aspect = 1.0f;

    Impl(RenderScene& s, const RenderOptions& o)
        : scene(s), options(o), numThreads(std::max(1, o.threads)), server(numThreads) {}

    // ---- shading ----

    const Material& materialFor(int tag) const {
        int m = 0;
        if (tag >= 0 && static_cast<std::size_t>(tag) < scene.nodes.size())
            m = scene.nodes[static_cast<std::size_t>(tag)].material;
        if (m < 0 || static_cast<std::size_t>(m) >= scene.materials.size())
            m = 0;
        return scene.materials[static_cast<std::size_t>(m)];
    }

    Color background(const Point3& d) const {
        float w = 0.5f + 0.5f * d.z;
        return lerp(scene.background.bottom, scene.background.top, std::clamp(w, 0.0f, 1.0f));
    }

    bool occludedTo(ThreadData& td, int slot, const Point3& from, const Point3& dir, double tmax,
                    float time) {
        VR::VRayContext& rc = *td.ctx[static_cast<std::size_t>(slot)];
        double o[3] = {from.x, from.y, from.z};
        float d[3] = {dir.x, dir.y, dir.z};
        // A shadow ray that cannot be traced (shading gave a point or direction beyond the ray
        // server's range) brings no light.
        if (!EmbreeRayServer::usable(o, d, 0.0, tmax))
            return true;
        rc.beginRay(o, d, 0.0, tmax, time, td.tags.next(core));
        ++td.rays;
        return server.occluded(rc);
    }

    // Light arriving at P with shading normal N: diffuse sum and (for glossy) the highlight.
    void lightAt(ThreadData& td, int slot, const Point3& P, const Point3& N, const Point3& V,
                 float time, const Material& m, Color& diffuse, Color& highlight) {
        const float bias = scene.settings.rayBias;
        Point3 origin = P + N * bias;
        for (const Light& l : scene.lights) {
            switch (l.type) {
            case LightType::Ambient:
                diffuse = diffuse + l.color * l.intensity;
                continue;
            case LightType::Dome: {
                float w = std::clamp(0.5f + 0.5f * N.z, 0.0f, 1.0f);
                diffuse = diffuse + lerp(l.color, l.skyColor, w) * l.intensity;
                continue;
            }
            case LightType::Directional:
            case LightType::Point:
                break;
            }
            Point3 L;
            double tmax = 1e18;
            if (l.type == LightType::Directional) {
                L = Normalize(-l.direction);
            } else {
                Point3 toL = l.position - origin;
                float dist = toL.Length();
                if (!(dist > 0.0f))
                    continue;
                L = toL / dist;
                tmax = dist;
            }
            float ndl = DotProd(N, L);
            if (!(ndl > 0.0f))
                continue;
            if (l.shadows && occludedTo(td, slot, origin, L, tmax, time))
                continue;
            Color c = l.color * l.intensity;
            diffuse = diffuse + c * ndl;
            if (m.type == MaterialType::Glossy && m.specular > 0.0f) {
                Point3 H = Normalize(L - V);
                float nh = DotProd(N, H);
                if (nh > 0.0f)
                    highlight = highlight + c * (m.specular * std::pow(nh, m.shininess));
            }
        }
    }

    Color radiance(ThreadData& td, int depth, const Point3& org, const Point3& dir, float time,
                   float& alpha) {
        alpha = 0.0f;
        const int slot = depth;
        VR::VRayContext& rc = *td.ctx[static_cast<std::size_t>(slot)];
        double o[3] = {org.x, org.y, org.z};
        float d[3] = {dir.x, dir.y, dir.z};
        // A path whose next ray cannot be traced ends here, black and transparent.
        if (!EmbreeRayServer::usable(o, d, 0.0, 1e18))
            return Color();
        rc.beginRay(o, d, 0.0, 1e18, time, td.tags.next(core));
        ++td.rays;
        TraceHit h = server.trace(rc);
        if (!h.hit)
            return background(dir);
        alpha = 1.0f;
        const Material& m = materialFor(h.ownerTag);
        VR::RayResult& rr = rc.rayresult;
        Point3 P(static_cast<float>(rr.wpoint[0]), static_cast<float>(rr.wpoint[1]),
                 static_cast<float>(rr.wpoint[2]));
        Point3 Nraw = Normalize(rr.normal);
        bool inside = DotProd(Nraw, dir) > 0.0f;
        Point3 N = inside ? -Nraw : Nraw; // faces the incoming ray
        Color base = (m.useSurfaceColor && rr.metaballColorValid) ? rr.metaballColor : m.color;
        const int maxDepth = scene.settings.maxDepth;
        const float bias = scene.settings.rayBias;
        float a2 = 0.0f;

        switch (m.type) {
        case MaterialType::Diffuse:
        case MaterialType::Glossy: {
            Color diffuse, highlight;
            lightAt(td, slot + 1, P, N, dir, time, m, diffuse, highlight);
            Color c = base * diffuse + highlight;
            if (m.type == MaterialType::Glossy && m.reflection > 0.0f && depth < maxDepth) {
                Point3 R = Normalize(reflectDir(dir, N));
                c = c * (1.0f - m.reflection) +
                    radiance(td, depth + 1, P + N * bias, R, time, a2) * m.reflection;
            }
            return c;
        }
        case MaterialType::Mirror: {
            if (depth >= maxDepth)
                return Color();
            Point3 R = Normalize(reflectDir(dir, N));
            return base * radiance(td, depth + 1, P + N * bias, R, time, a2);
        }
        case MaterialType::Glass: {
            if (depth >= maxDepth)
                return Color();
            float eta = inside ? m.ior : 1.0f / m.ior;
            float cosi = std::clamp(-DotProd(dir, N), 0.0f, 1.0f);
            float r0 = (1.0f - m.ior) / (1.0f + m.ior);
            r0 *= r0;
            float F = r0 + (1.0f - r0) * std::pow(1.0f - cosi, 5.0f);
            Point3 R = Normalize(reflectDir(dir, N));
            Point3 T;
            if (!refractDir(dir, N, eta, T))
                return radiance(td, depth + 1, P + N * bias, R, time, a2);
            Color refl = radiance(td, depth + 1, P + N * bias, R, time, a2);
            // The refracted ray starts just inside (or, leaving, just outside) the surface.
            Color refr = radiance(td, depth + 1, P - N * bias, T, time, a2);
            // Light is tinted once, on the way in.
            if (!inside)
                refr = refr * base;
            return refl * F + refr * (1.0f - F);
        }
        }
        return Color();
    }

    // ---- frame setup ----

    void setFrameData(int f) {
        TimeValue t = f * TicksPerFrame;
        core.frameData.t = t;
        double half = 0.5 * static_cast<double>(scene.settings.shutter) * TicksPerFrame;
        core.frameData.mbStart = scene.settings.motionBlur ? t - half : t;
        core.frameData.mbEnd = scene.settings.motionBlur ? t + half : t;
        Matrix3 c2w = cameraToWorld(scene.camera, t);
        core.frameData.camToWorld = c2w;
        core.frameData.worldToCam = c2w.Inverse();
        camRight = c2w.GetRow(0);
        camUp = c2w.GetRow(1);
        camFwd = -c2w.GetRow(2);
        camPos = c2w.GetRow(3);
        float fov = scene.camera.fov.Get(t);
        tanHalf = static_cast<float>(std::tan(static_cast<double>(fov) * 0.5 * M_PI / 180.0));
        aspect =
            static_cast<float>(scene.settings.width) / static_cast<float>(scene.settings.height);
    }

    void addMeshes(TimeValue t) {
        for (std::size_t i = 0; i < scene.nodes.size(); ++i) {
            const RenderNode& rn = scene.nodes[i];
            if (!rn.visible || rn.kind != NodeKind::Mesh)
                continue;
            Object* obj = rn.node->EvalWorldState(t).obj;
            if (!obj)
                continue;
            Object* tri = obj->ClassID() == triObjectClassID ? obj : nullptr;
            bool del = false;
            if (!tri && obj->CanConvertToType(triObjectClassID)) {
                tri = obj->ConvertToType(t, triObjectClassID);
                del = tri && tri != obj;
            }
            if (!tri)
                continue;
            const Mesh& mesh = static_cast<TriObject*>(tri)->GetMesh();
            Matrix3 tm = rn.node->GetObjectTM(t);
            std::vector<float> xyz;
            std::vector<std::uint32_t> idx;
            xyz.reserve(static_cast<std::size_t>(mesh.numVerts) * 3);
            for (int k = 0; k < mesh.numVerts; ++k) {
                Point3 p = tm.PointTransform(mesh.verts[k]);
                xyz.push_back(p.x);
                xyz.push_back(p.y);
                xyz.push_back(p.z);
            }
            for (int k = 0; k < mesh.numFaces; ++k) {
                const Face& f = mesh.faces[k];
                if (f.v[0] >= static_cast<DWORD>(mesh.numVerts) ||
                    f.v[1] >= static_cast<DWORD>(mesh.numVerts) ||
                    f.v[2] >= static_cast<DWORD>(mesh.numVerts))
                    continue;
                idx.push_back(f.v[0]);
                idx.push_back(f.v[1]);
                idx.push_back(f.v[2]);
            }
            if (del)
                tri->DeleteThis();
            server.addTriangles(xyz, idx, static_cast<int>(i));
        }
    }

    void renderPixel(ThreadData& td, int px, int py, float* out) {
        const int spp = std::max(1, scene.settings.spp);
        const int grid = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(spp))));
        const bool mb = scene.settings.motionBlur;
        const int timeOffset = static_cast<int>(hashUnit(px, py, frame, 0, 7) * spp) % spp;
        float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        for (int s = 0; s < spp; ++s) {
            float u = 0.5f, v = 0.5f;
            if (spp > 1) {
                // A fixed stratified pattern: one jittered sample per cell of a grid.
                int cx = s % grid, cy = s / grid;
                u = (static_cast<float>(cx) + hashUnit(px, py, frame, s, 0)) / grid;
                v = (static_cast<float>(cy) + hashUnit(px, py, frame, s, 1)) / grid;
                if (spp < grid * grid) // rows not all filled: spread the rows over the pixel
                    v = (static_cast<float>(cy) + hashUnit(px, py, frame, s, 1)) /
                        static_cast<float>((spp + grid - 1) / grid);
            }
            float time = 0.0f;
            if (mb) {
                int ts = (s + timeOffset) % spp;
                time = (static_cast<float>(ts) + hashUnit(px, py, frame, s, 2)) / spp;
                if (spp == 1)
                    time = 0.5f;
            }
            float sx = (2.0f * (static_cast<float>(px) + u) / scene.settings.width - 1.0f) *
                       tanHalf * aspect;
            float sy =
                (1.0f - 2.0f * (static_cast<float>(py) + v) / scene.settings.height) * tanHalf;
            Point3 dir = Normalize(camFwd + camRight * sx + camUp * sy);
            ++td.cameraRays;
            float alpha = 0.0f;
            Color c = radiance(td, 0, camPos, dir, time, alpha);
            if (!scene.settings.transparentBackground)
                alpha = 1.0f;
            sum[0] += c.r;
            sum[1] += c.g;
            sum[2] += c.b;
            sum[3] += alpha;
        }
        for (int i = 0; i < 4; ++i)
            out[i] = sum[i] / static_cast<float>(spp);
    }
};

Renderer::Renderer(RenderScene& scene, const RenderOptions& options)
    : impl_((installAllocationCounter(), std::make_unique<Impl>(scene, options))) {
    if (scene.materials.empty())
        scene.materials.push_back(Material{"default"});
    const int slots = std::max(0, scene.settings.maxDepth) + 3;
    impl_->threads.resize(static_cast<std::size_t>(impl_->numThreads));
    for (std::size_t t = 0; t < impl_->threads.size(); ++t) {
        for (int s = 0; s < slots; ++s) {
            auto rc = std::make_unique<VR::VRayContext>();
            rc->vray = &impl_->core;
            rc->threadIndex = static_cast<int>(t);
            rc->slot = s;
            impl_->threads[t].ctx.push_back(std::move(rc));
        }
    }
}

Renderer::~Renderer() {
    end();
}

int Renderer::instanceCount() const {
    return static_cast<int>(impl_->instances.size());
}

long long Renderer::allocationFailures() {
    installAllocationCounter();
    return failuresNow();
}

void Renderer::begin(int firstFrame) {
    Impl& m = *impl_;
    if (m.begun)
        return;
    m.core.sequenceData.mbOn = m.scene.settings.motionBlur ? 1 : 0;
    m.core.sequenceData.numThreads = m.numThreads;
    m.core.sequenceData.rayserver = &m.server;
    m.setFrameData(firstFrame);
    TimeValue t = firstFrame * TicksPerFrame;
    m.begun = true;
    for (std::size_t i = 0; i < m.scene.nodes.size(); ++i) {
        RenderNode& rn = m.scene.nodes[i];
        if (rn.kind != NodeKind::Plugin)
            continue;
        Object* obj = rn.node->GetObjectRef();
        if (!obj)
            continue;
        auto* ro =
            static_cast<VRenderObject*>(obj->GetInterface(static_cast<ULONG>(I_VRAYGEOMETRY)));
        if (!ro)
            continue;
        const long long failures = failuresNow();
        const std::string what = std::string("out of memory while starting the render of node \"") +
                                 rn.node->GetName() + "\"";
        try {
            if (std::find(m.objects.begin(), m.objects.end(), ro) == m.objects.end()) {
                ro->init(rn.node, &m.core);
                ro->renderBegin(t, &m.core);
                m.objects.push_back(ro);
            }
            VRenderInstance* inst =
                ro->createRenderInstance(rn.node, &m.core, static_cast<int>(m.instances.size()));
            if (!inst) {
                // A render object makes no instance when memory runs out; say so when it did.
                if (failuresNow() != failures)
                    throw OutOfMemory(what);
                throw std::runtime_error(std::string("the render object of node \"") +
                                         rn.node->GetName() + "\" made no render instance");
            }
            m.instances.push_back({ro, inst, static_cast<int>(i)});
            inst->renderBegin(t, &m.core);
        } catch (const std::bad_alloc&) {
            throw OutOfMemory(what);
        }
        // renderBegin makes the instance's per-thread tables and says nothing when it cannot.
        if (failuresNow() != failures)
            throw OutOfMemory(what);
    }
}

void Renderer::end() {
    Impl& m = *impl_;
    try {
        m.finishClosing();
    } catch (...) {
        // The frame's close failed after its image was returned; the bracket still ends.
    }
    if (!m.begun)
        return;
    for (auto& r : m.instances) {
        r.instance->renderEnd(&m.core);
        r.object->destroyRenderInstance(r.instance);
    }
    m.instances.clear();
    for (VRenderObject* ro : m.objects)
        ro->renderEnd(&m.core);
    m.objects.clear();
    m.begun = false;
}

Image Renderer::renderFrame(int frame, FrameStats& stats, const ProgressFn& progress) {
    Impl& m = *impl_;
    m.finishClosing();
    begin(frame);
    stats = FrameStats();
    stats.frame = frame;
    m.frame = frame;
    m.setFrameData(frame);
    const TimeValue t = frame * TicksPerFrame;
    const std::atomic<bool>* stopFlag = m.options.stop;
    auto stopped = [stopFlag] { return stopFlag && stopFlag->load(std::memory_order_relaxed); };
    const int W = m.scene.settings.width, H = m.scene.settings.height;

    // The frame bracket is closed whatever happens inside it, so the instances are left ready
    // for renderEnd (or another frame) after an interruption or a failure.
    int begunObjects = 0, begunInstances = 0;
    auto closeFrame = [&] { m.closeFrame(begunInstances, begunObjects); };
    const std::string frameName = frameText(frame);
    std::string stage;
    try {
        Image image;
        stage = "allocating the " + std::to_string(W) + "x" + std::to_string(H) + " image of " +
                frameName;
        image = Image(W, H);
        if (stopped()) {
            stats.interrupted = true;
            return image;
        }

        stage = "starting " + frameName;
        for (VRenderObject* ro : m.objects) {
            ro->frameBegin(t, &m.core);
            ++begunObjects;
        }
        auto c0 = Clock::now();
        for (auto& r : m.instances) {
            stage = "compiling " + frameName + " for node \"" +
                    m.scene.nodes[static_cast<std::size_t>(r.nodeIndex)].node->GetName() + "\"";
            const long long failures = failuresNow();
            ++begunInstances;
            r.instance->frameBegin(t, &m.core);
            if (failuresNow() != failures)
                throw OutOfMemory("out of memory while " + stage);
        }
        stats.compileSeconds = secondsSince(c0);
        for (auto& r : m.instances) {
            auto* part = static_cast<VR::SurfaceProperties*>(r.instance);
            if (auto* gs = VR::queryInterface<VR::GeometryStats>(part, VR::EXT_GEOMETRY_STATS)) {
                stats.geometryItems =
                    (stats.geometryItems < 0 ? 0 : stats.geometryItems) + gs->geometryItemCount();
                stats.geometryItemName = gs->geometryItemName();
                stats.droppedNonFinite += gs->droppedNonFinite();
                stats.droppedNonPositiveSize += gs->droppedNonPositiveSize();
            }
        }
        // A long compile is where a stop most often arrives: skip the build.
        if (stopped()) {
            stats.interrupted = true;
            closeFrame();
            return image;
        }

        stage = "building the ray acceleration structure of " + frameName;
        const long long buildFailures = failuresNow();
        auto b0 = Clock::now();
        m.server.beginFrame();
        m.addMeshes(t);
        for (auto& r : m.instances) {
            m.server.setOwnerTag(r.nodeIndex);
            r.instance->registerGeometry(&m.core);
        }
        m.server.setOwnerTag(-1);
        m.server.commit();
        if (failuresNow() != buildFailures)
            throw OutOfMemory("out of memory while " + stage);
        stats.buildSeconds = secondsSince(b0);
        stats.primitives = m.server.storedCount();
        stats.triangleMeshes = m.server.triangleMeshCount();
        stats.triangles = m.server.triangleCount();

        stage = "rendering " + frameName;
        renderBuckets(image, stats, progress);
        if (m.numThreads >= 2 && !stats.interrupted) {
            try {
                m.closing = std::thread([&m, begunInstances, begunObjects] {
                    try {
                        m.closeFrame(begunInstances, begunObjects);
                    } catch (...) {
                        m.closingFailure = std::current_exception();
                    }
                });
                return image;
            } catch (const std::system_error&) {
                // No thread to be had: closed here, below.
            }
        }
        closeFrame();
        return image;
    } catch (const std::bad_alloc&) {
        closeFrame();
        throw OutOfMemory("out of memory while " + stage);
    } catch (...) {
        closeFrame();
        throw;
    }
}

void Renderer::renderBuckets(Image& image, FrameStats& stats, const ProgressFn& progress) {
    Impl& m = *impl_;
    const std::atomic<bool>* stopFlag = m.options.stop;
    auto stopped = [stopFlag] { return stopFlag && stopFlag->load(std::memory_order_relaxed); };
    const int W = image.width, H = image.height;
    Region reg{0, 0, W, H};
    if (m.options.useRegion) {
        reg.x0 = std::clamp(m.options.region.x0, 0, W);
        reg.x1 = std::clamp(m.options.region.x1, 0, W);
        reg.y0 = std::clamp(m.options.region.y0, 0, H);
        reg.y1 = std::clamp(m.options.region.y1, 0, H);
    }
    const int bs = std::max(1, m.options.bucketSize);
    const int bx = std::max(0, (reg.x1 - reg.x0 + bs - 1) / bs);
    const int by = std::max(0, (reg.y1 - reg.y0 + bs - 1) / bs);
    const int total = bx * by;
    stats.bucketsTotal = total;
    std::atomic<int> next{0}, done{0}, running{0};
    std::mutex mu;
    std::condition_variable cv;
    std::exception_ptr failure;

    for (auto& td : m.threads)
        td.rays = td.cameraRays = 0;
    const long long failures = failuresNow();
    auto r0 = Clock::now();
    auto worker = [&](int ti) {
        Impl::ThreadData& td = m.threads[static_cast<std::size_t>(ti)];
        try {
            while (!stopped()) {
                int b = next.fetch_add(1);
                if (b >= total)
                    break;
                int x0 = reg.x0 + (b % bx) * bs, y0 = reg.y0 + (b / bx) * bs;
                int x1 = std::min(x0 + bs, reg.x1), y1 = std::min(y0 + bs, reg.y1);
                bool whole = true;
                for (int y = y0; y < y1 && whole; ++y) {
                    // A bucket of a heavy scene takes long: a stop ends it at the next row.
                    if (stopped()) {
                        whole = false;
                        break;
                    }
                    for (int x = x0; x < x1; ++x)
                        m.renderPixel(td, x, y, image.pixel(x, y));
                }
                if (!whole)
                    break;
                done.fetch_add(1);
                cv.notify_one();
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mu);
            if (!failure)
                failure = std::current_exception();
            next.store(total);
        }
        {
            std::lock_guard<std::mutex> lock(mu);
            running.fetch_sub(1);
        }
        cv.notify_one();
    };
    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(m.numThreads));
    try {
        for (int i = 0; i < m.numThreads; ++i) {
            running.fetch_add(1);
            try {
                pool.emplace_back(worker, i);
            } catch (...) {
                running.fetch_sub(1);
                throw;
            }
        }
    } catch (const std::system_error& e) {
        // The threads already started must be joined before anything unwinds past them.
        next.store(total);
        for (auto& th : pool)
            th.join();
        throw std::runtime_error(std::string("cannot start a render thread (") + e.what() +
                                 "); try fewer --threads or free some memory");
    }
    if (progress)
        progress(0, total);
    {
        int last = 0;
        std::unique_lock<std::mutex> lock(mu);
        while (running.load() > 0) {
            cv.wait_for(lock, std::chrono::milliseconds(200));
            int d = done.load();
            if (progress && d != last && !stopped()) {
                lock.unlock();
                progress(d, total);
                lock.lock();
                last = d;
            }
        }
    }
    for (auto& th : pool)
        th.join();
    stats.renderSeconds = secondsSince(r0);
    stats.bucketsDone = done.load();
    for (auto& td : m.threads) {
        stats.totalRays += td.rays;
        stats.cameraRays += td.cameraRays;
    }
    // The instances' work counters, read now that no thread renders.
    for (auto& r : m.instances) {
        auto* part = static_cast<VR::SurfaceProperties*>(r.instance);
        VR::TraceWork work;
        auto* gs = VR::queryInterface<VR::GeometryStats>(part, VR::EXT_GEOMETRY_STATS);
        if (gs != nullptr && gs->traceWork(work)) {
            stats.traceCounted = true;
            stats.marchSamples += work.samples;
            stats.distanceTests += work.distanceTests;
            stats.kernelEvaluations += work.evaluations;
            stats.skippedSamples += work.skippedSamples;
            stats.leafVisits += work.leafVisits;
            stats.candidates += work.candidates;
        }
    }
    if (failure)
        std::rethrow_exception(failure);
    // The plug-in's per-ray tables lose colours when they cannot grow; such an image is wrong.
    if (failuresNow() != failures)
        throw std::bad_alloc();
    if (stats.bucketsDone < total) {
        stats.interrupted = true;
        return;
    }
    if (progress)
        progress(total, total);
}

} // namespace velquin::renderer
