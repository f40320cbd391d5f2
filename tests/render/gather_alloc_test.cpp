// Running out of memory at every allocation a gathering call makes, one after the other: the
// call answers false with null outputs and empty lists, converted meshes are still deleted once,
// and (under the leak checker) nothing is left behind.
#include "gather_fixture.h"

#include <cstdlib>
#include <new>

namespace {
// Allocations left before the next one fails; negative: never fail. Armed only around the one
// call a test examines, on the test's own thread.
thread_local long gFailCountdown = -1;
} // namespace

// The replaceable forms of new and delete go through malloc and free, so that the sanitizers
// see matching pairs. One program holds one replacement of each: the single-object
// non-throwing new is render_instance_test.cpp's, which forwards to the throwing new below (and
// so fails with it). The aligned forms are left alone; nothing here uses them.
namespace {
void* allocate(std::size_t n) noexcept {
    if (gFailCountdown == 0)
        return nullptr;
    if (gFailCountdown > 0)
        --gFailCountdown;
    return std::malloc(n ? n : 1);
}
void* allocateOrThrow(std::size_t n) {
    if (void* p = allocate(n))
        return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t n) {
    return allocateOrThrow(n);
}
void* operator new[](std::size_t n) {
    return allocateOrThrow(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return allocate(n);
}
// Kept out of line so that the compiler does not pair the inlined free with a new expression.
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace velquin::gathertest {
namespace {

class GatherAllocTest : public ::testing::Test {
protected:
    Scene scene;
    TestBlock pb;
    MeshSource* src = nullptr;

    void SetUp() override {
        src = new MeshSource();
        src->build = [](TimeValue, Mesh& m) {
            m = pointsMesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
            m.setNumFaces(1);
            m.faces[0].setVerts(0, 1, 2);
            m.setNumVertCol(1);
            m.setNumVCFaces(1);
            return true;
        };
        pb.addNode(scene.CreateNode(src));
        auto* particles = new DataParticleObject();
        particles->particles.resize(3);
        for (SimpleParticleRecord& r : particles->particles)
            r.radius = 1.0f;
        pb.addNode(scene.CreateNode(particles));
        auto* flow = new PFlowSystemObject();
        pb.addNode(scene.CreateNode(flow));
        flow->AddEvent(scene, "Event");
        flow->particles.resize(2);
        flow->particles[1].id = 1;
        pb.setPoints(pb_metaballs, {{1, 1, 1}, {2, 2, 2}});
    }

    // Fails allocation k of the call for k = 0, 1, ... until the call gets through; answers
    // how many failures were seen.
    template <class Call> int failEachAllocation(Call call, int expectedCount) {
        for (long k = 0;; ++k) {
            GatherBuffers buffers;
            Gathered g;
            gFailCountdown = k;
            call(g, buffers);
            gFailCountdown = -1;
            EXPECT_EQ(src->counts->made, src->counts->deleted) << k;
            if (g.ok) {
                EXPECT_EQ(g.count, expectedCount);
                expectListsEmpty(buffers);
                return static_cast<int>(k);
            }
            EXPECT_EQ(g.count, 0) << k;
            EXPECT_EQ(g.positions, nullptr) << k;
            EXPECT_EQ(g.displacements, nullptr) << k;
            EXPECT_EQ(g.sizes, nullptr) << k;
            EXPECT_EQ(g.sizeDeltas, nullptr) << k;
            EXPECT_EQ(g.colors, nullptr) << k;
            expectListsEmpty(buffers);
            if (k > 100000) {
                ADD_FAILURE() << "never got through";
                return -1;
            }
        }
    }
};

TEST_F(GatherAllocTest, StillGatheringFailsCleanlyAtEveryAllocation) {
    int failures = failEachAllocation(
        [&](Gathered& g, GatherBuffers& b) { gatherStill(g, b, pb.get(), 0, true, true); },
        3 + 3 + 2 + 2);
    EXPECT_GT(failures, 10);
}

TEST_F(GatherAllocTest, MovingGatheringFailsCleanlyAtEveryAllocation) {
    int failures = failEachAllocation(
        [&](Gathered& g, GatherBuffers& b) { gatherSegment(g, b, pb.get(), 0, 80, true, true); },
        3 + 3 + 2 + 2);
    EXPECT_GT(failures, 10);
}

} // namespace
} // namespace velquin::gathertest
