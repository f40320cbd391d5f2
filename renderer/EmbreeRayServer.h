// The renderer's ray server on Embree 3. Each dynamic primitive a render instance stores becomes
// one user geometry whose bounds come from the primitive's box; meshes that the camera should see
// are triangle geometry. A render thread's first ray that meets a dynamic primitive expands it for
// that thread (expandForThread), which inserts the primitive that the thread then intersects.
//
// Threads: beginFrame, addTriangles, store*, commit and endFrame run on the control thread while
// no ray is traced; trace and occluded run on the render threads, each with its own thread index.
#pragma once

#include "platform/vray/primitive.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct RTCDeviceTy;
struct RTCSceneTy;

namespace velquin::renderer {

// What a traced ray met.
struct TraceHit {
    bool hit = false;
    double dist = 0.0;
    // The caller's tag of the geometry that was hit: the owner tag given when a dynamic primitive
    // was stored (see setOwnerTag), or the tag of a triangle mesh.
    int ownerTag = -1;
    bool dynamic = false;
    Point3 geometricNormal; // triangles only: unnormalised face normal
};

class EmbreeRayServer : public VR::RayServerInterface {
public:
    explicit EmbreeRayServer(int numThreads);
    ~EmbreeRayServer() override;
    EmbreeRayServer(const EmbreeRayServer&) = delete;
    EmbreeRayServer& operator=(const EmbreeRayServer&) = delete;

    // ---- control thread ----
    // Forgets the previous frame's geometry (after endFrame).
    void beginFrame();
    // The tag that primitives stored from now on carry (the renderer's index of the instance
    // that registers them).
    void setOwnerTag(int tag) { ownerTag_ = tag; }
    // A triangle mesh in world space; `tag` is returned in TraceHit::ownerTag.
    void addTriangles(const std::vector<float>& xyz, const std::vector<std::uint32_t>& indices,
                      int tag);
    // Builds the acceleration structure over everything stored for the frame.
    void commit();
    // Collapses every expansion on every thread, then forgets the stored primitives.
    void endFrame();

    // ---- RayServerInterface ----
    int newRenderID() override;
    void storeDynamicStaticPrimitive(VR::DynamicPrimitive<VR::StaticBox>* primitive,
                                     VR::GenericPrimitive* owner, int id) override;
    void storeDynamicMovingPrimitive(VR::DynamicPrimitive<VR::MovingBox>* primitive,
                                     VR::GenericPrimitive* owner, int id) override;
    int newPrimitiveID(int threadIndex, VR::GenericPrimitive* primitive) override;
    void insertPrimitive(int threadIndex, VR::GenericPrimitive* primitive,
                         VR::GenericPrimitive* owner, int id) override;
    void removePrimitive(int threadIndex, VR::GenericPrimitive* primitive) override;

    // ---- render threads ----
    // The nearest hit of rc.ray (origin, direction, tmin, tmax, time already set by
    // rc.beginRay) on thread rc.threadIndex. For a dynamic primitive's hit, rc.rayresult is
    // filled: the primitive's intersection data, its normal and the side.
    TraceHit trace(VR::VRayContext& rc);
    // Whether anything lies on the ray between tmin and tmax. A ray that is not usable (below)
    // is not traced: trace finds nothing on it, occluded answers true, and refusedRays counts
    // it.
    bool occluded(VR::VRayContext& rc);

    // Whether a ray can be handed to Embree: origin and direction finite and within 1e18, a
    // direction other than zero, 0 <= tmin <= tmax (tmax may be infinite).
    static bool usable(const double origin[3], const float direction[3], double tmin, double tmax);
    long long refusedRays() const { return refused_.load(std::memory_order_relaxed); }

    int numThreads() const { return static_cast<int>(threads_.size()); }
    int storedCount() const { return static_cast<int>(stored_.size()); }
    int triangleMeshCount() const { return meshCount_; }
    long long triangleCount() const { return triangleCount_; }
    int expansionCount(int threadIndex) const;

    // Bounds of a stored entry as given to the acceleration structure (for tests).
    VR::StaticBox storedBounds(int index) const;

    struct Stored {
        VR::GeometryGenerator* generator;
        VR::GenericPrimitive* primitive;
        VR::GenericPrimitive* owner;
        int id;
        int ownerTag;
        VR::StaticBox bounds; // static bound over the whole shutter
    };
    struct Inserted {
        VR::GenericPrimitive* primitive;
        VR::GenericPrimitive* owner;
        int id;
    };
    struct ThreadState {
        std::vector<std::uint8_t> expanded;          // per stored entry
        std::vector<std::vector<Inserted>> inserted; // per stored entry
        std::vector<Inserted> unmatched; // insertions whose owner matches no stored entry
        int expansions = 0;
    };

    // What a user geometry's callbacks are handed: the server and the stored entry.
    struct GeomUser {
        EmbreeRayServer* server;
        int index;
    };

    // Used by the geometry callbacks.
    const Stored& stored(int i) const { return stored_[static_cast<std::size_t>(i)]; }
    ThreadState& threadState(int t) { return threads_[static_cast<std::size_t>(t)]; }
    void ensureExpanded(int threadIndex, int storedIndex);

private:
    int matchStored(VR::GenericPrimitive* primitive, VR::GenericPrimitive* owner) const;
    void store(VR::GeometryGenerator* gen, VR::GenericPrimitive* prim, VR::GenericPrimitive* owner,
               int id, const VR::StaticBox& bounds);

    RTCDeviceTy* device_ = nullptr;
    RTCSceneTy* scene_ = nullptr;
    bool committed_ = false;
    std::vector<Stored> stored_;
    std::vector<unsigned> storedGeomIDs_;
    std::vector<int> geomToStored_; // Embree geometry id -> stored index, or -1 for triangles
    std::vector<int> geomToTag_;
    std::vector<ThreadState> threads_;
    std::vector<std::unique_ptr<GeomUser>> users_;
    std::mutex expandMutex_;
    int ownerTag_ = -1;
    int meshCount_ = 0;
    long long triangleCount_ = 0;
    std::atomic<int> nextRenderID_{0};
    std::atomic<int> nextPrimitiveID_{0};
    std::atomic<long long> refused_{0};
};

} // namespace velquin::renderer
