// The still metaballs' ray hierarchy laid out for tracing. The tree (RayHierarchy.h) is copied
// into one array of nodes in depth-first order, so collecting a ray's intervals is a loop without
// recursion or virtual calls, and every leaf's metaballs are copied next to each other in leaf
// order, one array per coordinate, so the distance tests of a leaf read consecutive memory and
// test several metaballs at once. Sums still run over each leaf's metaballs in the tree's order,
// so every value is the one the tree gives, bit for bit.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "field/Kernels.h"
#include "field/RayIntervals.h"
#include "raytrace/HitRecordTable.h"
#include "raytrace/RayHierarchy.h"
#include "raytrace/RayReach.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velquin {

struct FlatNode {
    float min[3];
    float max[3];
    std::int32_t end;   // index just past this node's subtree (a leaf: its own index + 1)
    std::int32_t begin; // a leaf: its first metaball in the packed arrays
    std::int32_t count; // a leaf: its metaball count; a branch: -1
    const Leaf* leaf;   // a leaf: the tree's leaf (for the evaluators that take index lists)
};

class FlatHierarchy {
public:
    // Lays out root (built over positions and, when sized, plain per-metaball radii). radiusSq
    // is the uniform squared radius in double; radiiSq the squared sizes (null when uniform), or
    // with plainSizes the plain ones, which the layout keeps beside their squares r x r (the
    // average surface weights its radius with them). False when memory ran out; the layout is
    // then empty. threads: how many threads the layout may keep busy; it is the same for any
    // number.
    bool build(const BVHNode& root, const float* positions, const double* radiiSq,
               double uniformRadiusSq, int threads = 1, bool plainSizes = false);
    void clear();

    bool empty() const { return nodeCount_ == 0; }

    // One interval per crossed leaf, in the tree's traversal order; the payload is the FlatNode.
    void intersect(const TraversalRay& ray, IntervalCollector& collector) const;

    // Hands out the same intervals as intersect() on demand, nearest entry first: nodes wait in a
    // heap by (entry, depth-first index) and a branch is opened only when its entry is needed.
    // A child's box lies in its parent's, so its entry is never nearer and its index is larger:
    // leaves come out in exactly the order of the sorted list, ties in traversal order. A march
    // that ends at the front of a big cloud never opens the boxes behind. The heap lives in
    // scratch, which keeps its capacity from ray to ray.
    class Feeder : public IntervalFeeder {
    public:
        struct Entry {
            double tNear;
            double tFar;
            std::int32_t index;
        };
        Feeder(const FlatHierarchy& tree, const TraversalRay& ray, std::vector<Entry>& scratch);
        void feed(IntervalCollector& list, double tLimit) override;
        bool nextEnter(double& tEnter) override;

    private:
        void push(std::int32_t index);
        // Pushes both children of the branch at index, left then right.
        void pushChildren(std::int32_t index);
        // Opens branches at the top of the heap until a leaf (or nothing) is there.
        void openToLeaf();

        const FlatHierarchy& tree_;
        const TraversalRay& ray_;
        std::vector<Entry>& heap_;
    };

    // Adds a leaf's contributions at p with kernel K, in the leaf's order. counters may be null.
    template <class K>
    void addLeaf(const FlatNode& leaf, const float p[3], double& sum,
                 TraceCounters* counters) const;

    // The leaf's metaballs that a march along ray can reach at any t with |t| <= tAbs, from
    // storage (the ray's collector). Every metaball left out computes a squared distance beyond
    // its reach at every such sample.
    LeafReach* reachSet(const FlatNode& leaf, const MarchRay& ray, double tAbs,
                        IntervalCollector& storage, TraceCounters* counters) const;

    // The summed field at p, and at the four gradient points (points[0] deciding the leaves):
    // the leaves whose box holds the point, faces included, in the tree's order, each adding its
    // metaballs in its order, so every sum is the one of the tree's point queries.
    template <class K> double sumAt(const float p[3]) const;
    template <class K> void sumsAt(const float points[4][3], double sums[4]) const;
    // The average surface's sums (FieldAvg's and FieldGradAvg's arithmetic) at the first count
    // (1 or 4) points, points[0] deciding the leaves; the layout must hold plain sizes when sized.
    template <class K>
    void averageSumsAt(const float points[][3], int count, float weightedCentre[][3],
                       double weightSum[], double weightedRadius[]) const;

    static const FlatNode& nodeOf(const RayInterval& interval) {
        return *static_cast<const FlatNode*>(interval.payload);
    }

private:
    // The first look of reachSet: whether each of four centres may lie within reach of the ray's
    // line, in single precision with room for its rounding. limit: the squared reach plus the
    // slack, uniform or (sized) 2 reach + 2 slack^2 from the compare values.
    struct NearTest {
        float origin[3];
        float direction[3];
        float inverseSq;
        float uniformLimit;
        float slackSq2;
        NearTest(const MarchRay& ray, double uniformLimitSq, double slackSq2);
        // Bit k set unless centre k (k < min(4, left)) is surely beyond its limit.
        unsigned mask4(const float* x, const float* y, const float* z, const float* reach,
                       std::int32_t left) const {
            if (left < 4) {
                // The leaf's last centres: padded lanes are never near.
                float xs[4] = {}, ys[4] = {}, zs[4] = {}, rs[4] = {-1.0f, -1.0f, -1.0f, -1.0f};
                for (std::int32_t k = 0; k < left; ++k) {
                    xs[k] = x[k];
                    ys[k] = y[k];
                    zs[k] = z[k];
                    rs[k] = reach != nullptr ? reach[k] : 0.0f;
                }
                const unsigned lanes = (1u << left) - 1u;
                if (reach == nullptr) {
                    return lanes & lanes4(xs, ys, zs, nullptr);
                }
                return lanes & lanes4(xs, ys, zs, rs);
            }
            return lanes4(x, y, z, reach);
        }

    private:
        unsigned lanes4(const float* x, const float* y, const float* z, const float* reach) const {
#if defined(__SSE2__)
            const __m128 wx = _mm_sub_ps(_mm_loadu_ps(x), _mm_set1_ps(origin[0]));
            const __m128 wy = _mm_sub_ps(_mm_loadu_ps(y), _mm_set1_ps(origin[1]));
            const __m128 wz = _mm_sub_ps(_mm_loadu_ps(z), _mm_set1_ps(origin[2]));
            const __m128 dx = _mm_set1_ps(direction[0]), dy = _mm_set1_ps(direction[1]),
                         dz = _mm_set1_ps(direction[2]);
            const __m128 along =
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(wx, dx), _mm_mul_ps(wy, dy)), _mm_mul_ps(wz, dz));
            const __m128 tc = _mm_mul_ps(along, _mm_set1_ps(inverseSq));
            const __m128 qx = _mm_sub_ps(wx, _mm_mul_ps(tc, dx));
            const __m128 qy = _mm_sub_ps(wy, _mm_mul_ps(tc, dy));
            const __m128 qz = _mm_sub_ps(wz, _mm_mul_ps(tc, dz));
            const __m128 q =
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(qx, qx), _mm_mul_ps(qy, qy)), _mm_mul_ps(qz, qz));
            const __m128 shrunk = _mm_mul_ps(q, _mm_set1_ps(1.0f - 0x1p-18f));
            __m128 limit = _mm_set1_ps(uniformLimit);
            if (reach != nullptr) {
                limit = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(reach), _mm_set1_ps(2.0f + 0x1p-17f)),
                                   _mm_set1_ps(slackSq2));
            }
            // A lane is near unless its distance is beyond its limit (a NaN stays near).
            return ~static_cast<unsigned>(_mm_movemask_ps(_mm_cmpgt_ps(shrunk, limit))) & 0xFu;
#else
            unsigned near = 0;
            for (int k = 0; k < 4; ++k) {
                const float wx = x[k] - origin[0], wy = y[k] - origin[1], wz = z[k] - origin[2];
                const float tc =
                    (wx * direction[0] + wy * direction[1] + wz * direction[2]) * inverseSq;
                const float qx = wx - tc * direction[0], qy = wy - tc * direction[1],
                            qz = wz - tc * direction[2];
                const float q2 = (qx * qx + qy * qy + qz * qz) * (1.0f - 0x1p-18f);
                const float limit =
                    reach != nullptr ? reach[k] * (2.0f + 0x1p-17f) + slackSq2 : uniformLimit;
                if (!(q2 > limit)) {
                    near |= 1u << k;
                }
            }
            return near;
#endif
        }
    };

    // Calls f(leaf) for every leaf whose box holds p, in depth-first order.
    template <class F> void forLeavesAt(const float p[3], F&& f) const {
        std::int32_t i = 0;
        while (i < nodeCount_) {
            const FlatNode& n = nodes_[i];
            if (!(n.min[0] <= p[0] && p[0] <= n.max[0] && n.min[1] <= p[1] && p[1] <= n.max[1] &&
                  n.min[2] <= p[2] && p[2] <= n.max[2])) {
                i = n.end;
                continue;
            }
            if (n.count >= 0) {
                f(n);
            }
            ++i;
        }
    }

    std::unique_ptr<FlatNode[]> nodes_;
    std::int32_t nodeCount_ = 0;
    // Each leaf's block: its count x coordinates, then the y and the z ones, so that a small
    // leaf's distance tests read one or two cache lines.
    std::unique_ptr<float[]> coords_;
    // Sized metaballs: squared sizes in leaf order, and for each the largest float that does not
    // exceed it, so that the single-precision compare d2 <= reach_ is exactly d2 <= radiusSq.
    std::unique_ptr<double[]> radiusSq_;
    std::unique_ptr<float[]> reach_;
    std::unique_ptr<double[]> size_; // plain sizes, when laid out with plainSizes
    double uniformRadiusSq_ = 0.0;
    float uniformReach_ = -1.0f;
};

namespace detail {

// Bit j set when metaball j (j < 8) is within reach of p; d2 receives the 8 squared distances.
// Exactly the single-precision arithmetic of distanceSq, four lanes at a time.
inline unsigned reachMask8(const float* x, const float* y, const float* z, const float p[3],
                           const float* reach, float uniformReach, float d2[8]) {
#if defined(__SSE2__)
    const __m128 px = _mm_set1_ps(0.0f - p[0]);
    const __m128 py = _mm_set1_ps(0.0f - p[1]);
    const __m128 pz = _mm_set1_ps(0.0f - p[2]);
    unsigned mask = 0;
    for (int h = 0; h < 8; h += 4) {
        const __m128 dx = _mm_add_ps(_mm_loadu_ps(x + h), px);
        const __m128 dy = _mm_add_ps(_mm_loadu_ps(y + h), py);
        const __m128 dz = _mm_add_ps(_mm_loadu_ps(z + h), pz);
        __m128 s = _mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy));
        s = _mm_add_ps(s, _mm_mul_ps(dz, dz));
        _mm_storeu_ps(d2 + h, s);
        const __m128 r = reach != nullptr ? _mm_loadu_ps(reach + h) : _mm_set1_ps(uniformReach);
        mask |= static_cast<unsigned>(_mm_movemask_ps(_mm_cmple_ps(s, r))) << h;
    }
    return mask;
#else
    unsigned mask = 0;
    for (int j = 0; j < 8; ++j) {
        const float dx = x[j] + (0.0f - p[0]);
        const float dy = y[j] + (0.0f - p[1]);
        const float dz = z[j] + (0.0f - p[2]);
        float s = dx * dx + dy * dy;
        s = s + dz * dz;
        d2[j] = s;
        if (s <= (reach != nullptr ? reach[j] : uniformReach)) {
            mask |= 1u << j;
        }
    }
    return mask;
#endif
}

// Bit j set when the metaball at (x, y, z) is within reach of points[j] (j < 4); d2 receives the
// four squared distances: distanceSq's arithmetic, the four points in the four lanes.
inline unsigned reachMask4Points(float x, float y, float z, const float points[4][3], float reach,
                                 float d2[4]) {
#if defined(__SSE2__)
    const __m128 px = _mm_setr_ps(0.0f - points[0][0], 0.0f - points[1][0], 0.0f - points[2][0],
                                  0.0f - points[3][0]);
    const __m128 py = _mm_setr_ps(0.0f - points[0][1], 0.0f - points[1][1], 0.0f - points[2][1],
                                  0.0f - points[3][1]);
    const __m128 pz = _mm_setr_ps(0.0f - points[0][2], 0.0f - points[1][2], 0.0f - points[2][2],
                                  0.0f - points[3][2]);
    const __m128 dx = _mm_add_ps(_mm_set1_ps(x), px);
    const __m128 dy = _mm_add_ps(_mm_set1_ps(y), py);
    const __m128 dz = _mm_add_ps(_mm_set1_ps(z), pz);
    __m128 s = _mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy));
    s = _mm_add_ps(s, _mm_mul_ps(dz, dz));
    _mm_storeu_ps(d2, s);
    return static_cast<unsigned>(_mm_movemask_ps(_mm_cmple_ps(s, _mm_set1_ps(reach))));
#else
    unsigned mask = 0;
    for (int j = 0; j < 4; ++j) {
        const float dx = x + (0.0f - points[j][0]);
        const float dy = y + (0.0f - points[j][1]);
        const float dz = z + (0.0f - points[j][2]);
        float s = dx * dx + dy * dy;
        s = s + dz * dz;
        d2[j] = s;
        if (s <= reach) {
            mask |= 1u << j;
        }
    }
    return mask;
#endif
}

} // namespace detail

template <class K>
void FlatHierarchy::addLeaf(const FlatNode& leaf, const float p[3], double& sum,
                            TraceCounters* counters) const {
    const std::int32_t begin = leaf.begin;
    const std::int32_t end = leaf.begin + leaf.count;
    const bool sized = radiusSq_ != nullptr;
    if (counters != nullptr) {
        counters->distanceTests += leaf.count;
    }
    // A uniform squared radius of 0 or below reaches nothing (its kernel would divide by 0).
    if (!sized && !(uniformRadiusSq_ > 0.0)) {
        return;
    }
    std::int64_t reached = 0;
    std::int32_t i = begin;
    const float* x = coords_.get() + 3 * static_cast<std::int64_t>(begin) - begin;
    const float* y = x + leaf.count;
    const float* z = y + leaf.count;
    float d2[8];
    for (; i + 8 <= end; i += 8) {
        unsigned mask = detail::reachMask8(x + i, y + i, z + i, p,
                                           sized ? reach_.get() + i : nullptr, uniformReach_, d2);
        while (mask != 0) {
            const int j = __builtin_ctz(mask);
            mask &= mask - 1;
            const double r2 = sized ? radiusSq_[i + j] : uniformRadiusSq_;
            sum += K::eval(r2, static_cast<double>(d2[j]));
            ++reached;
        }
    }
    const float px = 0.0f - p[0], py = 0.0f - p[1], pz = 0.0f - p[2];
    for (; i < end; ++i) {
        const float dx = x[i] + px;
        const float dy = y[i] + py;
        const float dz = z[i] + pz;
        float s = dx * dx + dy * dy;
        s = s + dz * dz;
        if (s <= (sized ? reach_[i] : uniformReach_)) {
            const double r2 = sized ? radiusSq_[i] : uniformRadiusSq_;
            sum += K::eval(r2, static_cast<double>(s));
            ++reached;
        }
    }
    if (counters != nullptr) {
        counters->contributing += reached;
    }
}

template <class K> double FlatHierarchy::sumAt(const float p[3]) const {
    double sum = 0.0;
    forLeavesAt(p, [&](const FlatNode& leaf) { addLeaf<K>(leaf, p, sum, nullptr); });
    return sum;
}

template <class K> void FlatHierarchy::sumsAt(const float points[4][3], double sums[4]) const {
    const bool sized = radiusSq_ != nullptr;
    if (!sized && !(uniformRadiusSq_ > 0.0)) {
        return;
    }
    forLeavesAt(points[0], [&](const FlatNode& leaf) {
        const float* x = coords_.get() + 3 * static_cast<std::int64_t>(leaf.begin);
        const float* y = x + leaf.count;
        const float* z = y + leaf.count;
        for (std::int32_t i = 0; i < leaf.count; ++i) {
            const std::int32_t slot = leaf.begin + i;
            const float reach = sized ? reach_[slot] : uniformReach_;
            const double r2 = sized ? radiusSq_[slot] : uniformRadiusSq_;
            float d2[4];
            unsigned mask = detail::reachMask4Points(x[i], y[i], z[i], points, reach, d2);
            while (mask != 0) {
                const int j = __builtin_ctz(mask);
                mask &= mask - 1;
                sums[j] += K::eval(r2, static_cast<double>(d2[j]));
            }
        }
    });
}

template <class K>
void FlatHierarchy::averageSumsAt(const float points[][3], int count, float weightedCentre[][3],
                                  double weightSum[], double weightedRadius[]) const {
    const bool sized = radiusSq_ != nullptr;
    forLeavesAt(points[0], [&](const FlatNode& leaf) {
        const float* x = coords_.get() + 3 * static_cast<std::int64_t>(leaf.begin);
        const float* y = x + leaf.count;
        const float* z = y + leaf.count;
        for (std::int32_t i = 0; i < leaf.count; ++i) {
            const std::int32_t slot = leaf.begin + i;
            const float reach = sized ? reach_[slot] : uniformReach_;
            const double r2 = sized ? radiusSq_[slot] : uniformRadiusSq_;
            for (int j = 0; j < count; ++j) {
                const float dx = x[i] + (0.0f - points[j][0]);
                const float dy = y[i] + (0.0f - points[j][1]);
                const float dz = z[i] + (0.0f - points[j][2]);
                float s = dx * dx + dy * dy;
                s = s + dz * dz;
                if (!(s <= reach)) {
                    continue;
                }
                const double w = K::eval(r2, static_cast<double>(s));
                const float wf = static_cast<float>(w);
                weightedCentre[j][0] = weightedCentre[j][0] + x[i] * wf;
                weightedCentre[j][1] = weightedCentre[j][1] + y[i] * wf;
                weightedCentre[j][2] = weightedCentre[j][2] + z[i] * wf;
                weightSum[j] += w;
                if (size_) {
                    weightedRadius[j] += w * size_[slot];
                }
            }
        }
    });
}

// Kernels as types, so that a tracing loop is compiled once per kernel.
namespace kernel_types {
struct PowerOfTwo {
    static double eval(double r2, double d2) { return kernels::powerOfTwo(r2, d2); }
};
struct PowerOfThree {
    static double eval(double r2, double d2) { return kernels::powerOfThree(r2, d2); }
};
struct PowerOfFour {
    static double eval(double r2, double d2) { return kernels::powerOfFour(r2, d2); }
};
struct PowerOfFive {
    static double eval(double r2, double d2) { return kernels::powerOfFive(r2, d2); }
};
struct HermitePowerOfTwo {
    static double eval(double r2, double d2) { return kernels::hermitePowerOfTwo(r2, d2); }
};
struct HermitePowerOfFour {
    static double eval(double r2, double d2) { return kernels::hermitePowerOfFour(r2, d2); }
};
struct Wyvill {
    static double eval(double r2, double d2) { return kernels::wyvill(r2, d2); }
};
} // namespace kernel_types

// Calls f(K{}) with the kernel type of a kernel function; false for a function that is not one of
// the seven (the caller then keeps the general path).
template <class F> bool withKernelType(FalloffKernel kernel, F&& f) {
    if (kernel == kernelPowerOfTwo) {
        f(kernel_types::PowerOfTwo{});
    } else if (kernel == kernelPowerOfThree) {
        f(kernel_types::PowerOfThree{});
    } else if (kernel == kernelPowerOfFour) {
        f(kernel_types::PowerOfFour{});
    } else if (kernel == kernelPowerOfFive) {
        f(kernel_types::PowerOfFive{});
    } else if (kernel == kernelHermitePowerOfTwo) {
        f(kernel_types::HermitePowerOfTwo{});
    } else if (kernel == kernelHermitePowerOfFour) {
        f(kernel_types::HermitePowerOfFour{});
    } else if (kernel == kernelWyvill) {
        f(kernel_types::Wyvill{});
    } else {
        return false;
    }
    return true;
}

} // namespace velquin
