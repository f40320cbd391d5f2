// A small, complete ray server: keeps the frame's dynamic primitives, expands each on a render
// thread's first ray, and finds a ray's nearest hit by trying every inserted primitive whose box
// the ray crosses. It is the reference against which faster servers are checked.
//
// Threads: store*, newRenderID and clearFrame run on the control thread while no ray is traced;
// findNearestHit, and the per-thread calls that expansion makes, run on the render threads, each
// touching only its own thread's state.
#pragma once

#include "platform/vray/primitive.h"

#include <atomic>
#include <vector>

namespace VR {

class SimpleRayServer : public RayServerInterface {
public:
    explicit SimpleRayServer(int numThreads);
    // Forgets everything without collapsing: the primitives may already be gone.
    ~SimpleRayServer() override = default;

    int newRenderID() override;
    void storeDynamicStaticPrimitive(DynamicPrimitive<StaticBox>* primitive,
                                     GenericPrimitive* owner, int id) override;
    void storeDynamicMovingPrimitive(DynamicPrimitive<MovingBox>* primitive,
                                     GenericPrimitive* owner, int id) override;
    int newPrimitiveID(int threadIndex, GenericPrimitive* primitive) override;
    void insertPrimitive(int threadIndex, GenericPrimitive* primitive, GenericPrimitive* owner,
                         int id) override;
    void removePrimitive(int threadIndex, GenericPrimitive* primitive) override;

    // Traces rc.ray on thread rc.threadIndex. On a hit, fills rc.rayresult: the intersection
    // data of the hit primitive, then its normal and the side (1 when the normal faces along the
    // ray). Returns whether there was a hit; a thread index out of range finds nothing.
    bool findNearestHit(VRayContext& rc);

    // Ends the frame: every expansion is collapsed (collapseForThread on each thread it was
    // made for) and the stored primitives are forgotten.
    void clearFrame();

    int numThreads() const { return static_cast<int>(threads_.size()); }
    int storedCount() const { return static_cast<int>(stored_.size()); }
    int insertedCount(int threadIndex) const;
    int expansionCount(int threadIndex) const;

private:
    struct Stored {
        GeometryGenerator* generator;
        GenericPrimitive* primitive;
        GenericPrimitive* owner;
        int id;
        bool moving;
        StaticBox sbox;
        MovingBox mbox;
    };
    struct Inserted {
        GenericPrimitive* primitive;
        GenericPrimitive* owner;
        int id;
        int stored; // index of the stored entry whose box bounds it, or -1 (always tried)
    };
    struct ThreadState {
        std::vector<char> expanded; // per stored entry
        std::vector<Inserted> inserted;
        int expansions = 0;
    };
    bool crossesBox(const RayBase& ray, const Stored& s) const;

    std::vector<Stored> stored_;
    std::vector<ThreadState> threads_;
    std::atomic<int> nextRenderID_{0};
    std::atomic<int> nextPrimitiveID_{0};
};

} // namespace VR
