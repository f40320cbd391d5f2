// The per-ray records that both hierarchies (still and moving metaballs) and both primitives
// share: the ray as the hierarchies read it, one hit leaf's distance interval, and the collector
// that turns the hit leaves into a list sorted by entry distance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

namespace velquin {

// A ray prepared for slab tests. The inverse direction is taken in double and clamped to
// +-1e18, so an axis-parallel ray needs no special case: 1/+0 gives +1e18 and 1/-0 gives -1e18.
struct TraversalRay {
    double origin[3] = {0.0, 0.0, 0.0};
    float direction[3] = {0.0f, 0.0f, 0.0f};
    double inverseDirection[3] = {0.0, 0.0, 0.0};
    std::int32_t sign[3] = {0, 0, 0}; // 1 where the direction's sign bit is set (-0 included)
    double tMin = 0.0;
    double tMax = 0.0;

    TraversalRay() = default;
    TraversalRay(const double rayOrigin[3], const float rayDirection[3], double nearest,
                 double farthest);
};

// One hit leaf: the stretch [tEnter, tExit] of the ray over which its metaballs can contribute.
// payload is the leaf's evaluation face (static hierarchy: see containerFromPayload in
// raytrace/RayHierarchy.h) or a MotionCache (moving hierarchy: static_cast<MotionCache*>).
struct RayInterval {
    double tEnter = 0.0;
    double tExit = 0.0;
    void* payload = nullptr;
    RayInterval* next = nullptr;
    // What a march learned about this leaf for this ray (still metaballs: the metaballs within
    // reach, see FlatHierarchy::reachSet), made on its first visit; null until then.
    void* rayData = nullptr;
};

class IntervalCollector;

// Hands a collector its intervals on demand, in the order finish() would have sorted them, so
// that a march that ends early never collects or sorts the intervals beyond its end.
class IntervalFeeder {
public:
    // Appends every interval not handed out yet whose entry is below tLimit.
    virtual void feed(IntervalCollector& list, double tLimit) = 0;
    // The entry of the next interval not handed out yet; false when none is left.
    virtual bool nextEnter(double& tEnter) = 0;

protected:
    ~IntervalFeeder() = default;
};

// Collects the intervals of one ray and sorts them into a list by entry distance.
//
// Storage: intervals (and whatever a hierarchy attaches to them, such as motion caches and their
// arrays) come from chunks owned by the collector. Nothing is freed one by one: removing an
// interval only unlinks it, and everything goes when the collector is cleared or destroyed.
// Pointers stay valid until then. clear() keeps the chunks, so a collector kept per thread
// serves ray after ray without touching the heap once it has grown.
class IntervalCollector {
public:
    RayInterval* head = nullptr;       // the sorted list after finish()
    std::vector<RayInterval*> pending; // in hit order until finish()

    IntervalCollector() = default;
    IntervalCollector(const IntervalCollector&) = delete;
    IntervalCollector& operator=(const IntervalCollector&) = delete;

    // Room for n pending intervals (the primitive reserves 25 before a query).
    void reserve(std::size_t n);

    void add(double tEnter, double tExit, void* payload);

    // Sorts pending by tEnter, keeping hit order among equal entries (a stable sort: the order
    // in which leaves are summed changes the last bits of the field), links the list, sets head
    // and empties pending. With nothing pending, head is left as it is.
    void finish();

    // Unlinks interval from the list; prev is the interval before it, or null when it is the
    // head. Returns the interval that followed it. Its storage stays until clear().
    RayInterval* remove(RayInterval* prev, RayInterval* interval);

    // Drops every interval and everything allocated with them; keeps the capacity.
    void clear();

    // Lazy lists: with a feeder, the list holds a sorted prefix of the ray's intervals and the
    // walks extend it up to the distance they need. Without one these read the list alone.
    IntervalFeeder* feeder = nullptr;
    // Appends an interval after every one in the list (the feeder keeps them sorted).
    void append(double tEnter, double tExit, void* payload);
    // Feeding again to a distance already fed adds nothing, so only a farther one asks.
    void feedTo(double t) {
        if (feeder != nullptr && t > fedTo_) {
            feeder->feed(*this, t);
            fedTo_ = t;
        }
    }
    // No interval left, listed or still to come.
    bool exhausted() {
        double next;
        return head == nullptr && (feeder == nullptr || !feeder->nextEnter(next));
    }
    // The entry of the first interval left (listed or still to come); false when none is.
    bool firstEnter(double& tEnter) {
        if (head != nullptr) {
            tEnter = head->tEnter;
            return true;
        }
        return feeder != nullptr && feeder->nextEnter(tEnter);
    }

    // Raw per-ray storage released with the intervals. Never returns null for bytes > 0.
    void* allocate(std::size_t bytes, std::size_t align);

    // A default-constructed T from the per-ray storage; T must not need a destructor.
    template <class T> T* make() {
        static_assert(std::is_trivially_destructible_v<T>, "collector storage runs no destructors");
        return ::new (allocate(sizeof(T), alignof(T))) T();
    }
    template <class T> T* makeArray(std::size_t n) {
        static_assert(std::is_trivially_destructible_v<T>, "collector storage runs no destructors");
        static_assert(std::is_trivially_default_constructible_v<T>, "arrays are left unset");
        return static_cast<T*>(allocate(sizeof(T) * n, alignof(T)));
    }

private:
    struct Chunk {
        std::unique_ptr<std::byte[]> bytes;
        std::size_t size = 0;
    };
    RayInterval* newInterval(double tEnter, double tExit, void* payload);
    RayInterval* tail_ = nullptr; // the last listed interval, for append()
    double fedTo_ = -std::numeric_limits<double>::infinity(); // the farthest feedTo() so far
    struct SortKey {
        double tEnter;
        std::uint32_t order; // position in hit order, which breaks ties between equal entries
        RayInterval* interval;
    };
    std::vector<SortKey> keys_; // finish()'s scratch, kept between rays
    static constexpr std::size_t kChunkBytes = 8192;
    std::vector<Chunk> chunks_;
    std::size_t current_ = 0; // chunk being filled
    std::size_t used_ = 0;    // bytes used in it
};

// The calling thread's T for one ray, reused ray after ray, so that tracing touches the heap only
// while a thread's storage is still growing. Leases nest: a texture or a shader evaluated during
// a march may trace again on the same thread and gets a T of its own.
template <class T> class ThreadLease {
public:
    ThreadLease() {
        Pool& p = pool();
        if (p.inUse == p.items.size()) {
            p.items.push_back(std::make_unique<T>());
        }
        item_ = p.items[p.inUse++].get();
    }
    ~ThreadLease() { --pool().inUse; }
    ThreadLease(const ThreadLease&) = delete;
    ThreadLease& operator=(const ThreadLease&) = delete;

    T& get() { return *item_; }

private:
    struct Pool {
        std::vector<std::unique_ptr<T>> items;
        std::size_t inUse = 0;
    };
    static Pool& pool() {
        thread_local Pool p;
        return p;
    }
    T* item_;
};

// The calling thread's collector for one ray, cleared when leased and when returned.
class CollectorLease {
public:
    CollectorLease() { lease_.get().clear(); }
    ~CollectorLease() { lease_.get().clear(); }

    IntervalCollector& collector() { return lease_.get(); }

private:
    ThreadLease<IntervalCollector> lease_;
};

// The slab test shared by both hierarchies, in double: the box faces b0 (min) and b1 (max) are
// widened to double. max/min keep the running value unless the new one is strictly beyond it,
// which is also how a NaN (impossible with finite inputs: no face minus origin is infinite, and
// the clamp keeps the inverse direction finite) would be ignored. A hit is tNear <= tFar
// within the relative tolerance 2^-20.
inline bool slabTest(const float b0[3], const float b1[3], const TraversalRay& ray, double& tNear,
                     double& tFar) {
    const float* b[2] = {b0, b1};
    tNear = ray.tMin;
    tFar = ray.tMax;
    for (int a = 0; a < 3; ++a) {
        const int s = ray.sign[a];
        const double nearT =
            (static_cast<double>(b[s][a]) - ray.origin[a]) * ray.inverseDirection[a];
        const double farT =
            (static_cast<double>(b[1 - s][a]) - ray.origin[a]) * ray.inverseDirection[a];
        if (nearT > tNear) {
            tNear = nearT;
        }
        if (farT < tFar) {
            tFar = farT;
        }
    }
    return tNear <= tFar * 1.0000009536743164;
}

} // namespace velquin
