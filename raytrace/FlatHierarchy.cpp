#include "raytrace/FlatHierarchy.h"

#include "raytrace/SideBySide.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace velquin {

namespace {

struct Counts {
    std::int32_t nodes = 0;
    std::int64_t metaballs = 0;
};

void countNodes(const BVHNode& node, Counts& c) {
    ++c.nodes;
    if (node.isBranch()) {
        countNodes(*node.left(), c);
        countNodes(*node.right(), c);
    } else {
        c.metaballs += node.count();
    }
}

} // namespace

void FlatHierarchy::clear() {
    nodes_.reset();
    nodeCount_ = 0;
    coords_.reset();
    radiusSq_.reset();
    reach_.reset();
    size_.reset();
}

bool FlatHierarchy::build(const BVHNode& root, const float* positions, const double* radiiSq,
                          double uniformRadiusSq, int threads, bool plainSizes) {
    clear();
    Counts c;
    countNodes(root, c);
    const std::size_t n = static_cast<std::size_t>(c.metaballs);
    nodes_.reset(new (std::nothrow) FlatNode[static_cast<std::size_t>(c.nodes)]);
    coords_.reset(new (std::nothrow) float[3 * n]);
    if (radiiSq != nullptr) {
        radiusSq_.reset(new (std::nothrow) double[n]);
        reach_.reset(new (std::nothrow) float[n]);
        if (plainSizes) {
            size_.reset(new (std::nothrow) double[n]);
        }
    }
    if (!nodes_ || !coords_ ||
        (radiiSq != nullptr && (!radiusSq_ || !reach_ || (plainSizes && !size_)))) {
        clear();
        return false;
    }
    uniformRadiusSq_ = uniformRadiusSq;
    uniformReach_ = reachCompareValue(uniformRadiusSq);

    // Depth first, left before right: the order in which the tree's traversal visits nodes. A
    // subtree's place in both arrays follows from the counts of what comes before it, so the
    // two sides of a large branch are laid out at once when threads allow.
    struct Cursor {
        std::int32_t next = 0;
        std::int32_t packed = 0;
    };
    auto place = [&](auto&& self, const BVHNode& node, Cursor& cur, int threads) -> void {
        FlatNode& f = nodes_[cur.next];
        const std::int32_t index = cur.next++;
        for (int a = 0; a < 3; ++a) {
            f.min[a] = node.min[a];
            f.max[a] = node.max[a];
        }
        f.leaf = nullptr;
        f.begin = 0;
        f.count = -1;
        if (node.isBranch()) {
            bool done = false;
            if (threads >= 2) {
                Counts left;
                countNodes(*node.left(), left);
                if (left.metaballs >= static_cast<std::int64_t>(kParallelMinimum)) {
                    Cursor right{cur.next + left.nodes,
                                 cur.packed + static_cast<std::int32_t>(left.metaballs)};
                    done = runSideBySide(
                        [&] { self(self, *node.right(), right, threads - threads / 2); },
                        [&] { self(self, *node.left(), cur, threads / 2); });
                    if (done) {
                        cur = right;
                    }
                }
            }
            if (!done) {
                self(self, *node.left(), cur, 1);
                self(self, *node.right(), cur, 1);
            }
        } else {
            const std::int32_t* items = node.indices();
            const std::int32_t count = node.count();
            f.leaf = static_cast<const Leaf*>(&node);
            f.begin = cur.packed;
            f.count = count;
            for (std::int32_t i = 0; i < count; ++i) {
                const std::size_t k = static_cast<std::size_t>(items[i]);
                float* block = coords_.get() + 3 * static_cast<std::size_t>(f.begin);
                block[i] = positions[3 * k];
                block[count + i] = positions[3 * k + 1];
                block[2 * count + i] = positions[3 * k + 2];
                if (radiiSq != nullptr) {
                    // The average surface squares its plain sizes in double, as FieldAvg does.
                    const double r2 = plainSizes ? radiiSq[k] * radiiSq[k] : radiiSq[k];
                    radiusSq_[cur.packed] = r2;
                    reach_[cur.packed] = reachCompareValue(r2);
                    if (plainSizes) {
                        size_[cur.packed] = radiiSq[k];
                    }
                }
                ++cur.packed;
            }
        }
        nodes_[index].end = cur.next;
    };
    Cursor cursor;
    place(place, root, cursor, threads);
    const std::int32_t next = cursor.next;
    nodeCount_ = next;
    return true;
}

LeafReach* FlatHierarchy::reachSet(const FlatNode& leaf, const MarchRay& ray, double tAbs,
                                   IntervalCollector& storage, TraceCounters* counters) const {
    const bool sized = radiusSq_ != nullptr;
    const std::int32_t count = sized || uniformRadiusSq_ > 0.0 ? leaf.count : 0;
    const float* x = coords_.get() + 3 * static_cast<std::int64_t>(leaf.begin);
    const float* y = x + leaf.count;
    const float* z = y + leaf.count;
    float centre[3];
    // A first look in single precision: the squared distance from each centre to the line, with
    // room for its rounding (each step's error is a few ulps of the centre's distance from the
    // origin, at most far; 2^-16 of it is ample), against the reach plus the point error. A
    // sized metaball is held to (a + b)^2 <= 2 a^2 + 2 b^2, which needs no square root.
    double far = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double e = std::max(std::fabs(leaf.min[a] - ray.origin[a]),
                                  std::fabs(leaf.max[a] - ray.origin[a]));
        far += e * e;
    }
    const double slack = ray.pointError(tAbs) + std::sqrt(far) * 0x1p-16 + 1e-30;
    const double uniformLimit =
        (reachDistance(uniformRadiusSq_) + slack) * (reachDistance(uniformRadiusSq_) + slack);
    const NearTest test(ray, uniformLimit, 2.0 * slack * slack);
    // Beyond 1e15 from the origin the squares could overflow single precision: no first look.
    const bool look = far < 1e30;
    unsigned mask = 0;
    auto near = [&](std::int32_t j) {
        if (!look) {
            return true;
        }
        if ((j & 3) == 0) {
            mask = test.mask4(x + j, y + j, z + j, sized ? reach_.get() + leaf.begin + j : nullptr,
                              leaf.count - j);
        }
        return ((mask >> (j & 3)) & 1u) != 0;
    };
    return makeReachSet(
        count,
        [&](std::int32_t j) {
            centre[0] = x[j];
            centre[1] = y[j];
            centre[2] = z[j];
            return centre;
        },
        [&](std::int32_t j) { return sized ? radiusSq_[leaf.begin + j] : uniformRadiusSq_; },
        [&](std::int32_t j) { return sized ? reach_[leaf.begin + j] : uniformReach_; },
        [&](std::int32_t j) { return size_ ? size_[leaf.begin + j] : 0.0; }, near, ray, tAbs,
        storage, counters);
}

FlatHierarchy::NearTest::NearTest(const MarchRay& ray, double uniformLimitSq, double slackSq2)
    : inverseSq(static_cast<float>(1.0 / ray.directionSq)),
      uniformLimit(static_cast<float>(uniformLimitSq * (1.0 + 0x1p-18))),
      slackSq2(static_cast<float>(slackSq2 * (1.0 + 0x1p-18))) {
    for (int a = 0; a < 3; ++a) {
        origin[a] = static_cast<float>(ray.origin[a]);
        direction[a] = static_cast<float>(ray.direction[a]);
    }
}

namespace {

// The heap's order: the smallest (entry, index) on top. A type, not a function, so that the heap
// algorithms compile the comparison in.
struct Later {
    bool operator()(const FlatHierarchy::Feeder::Entry& a,
                    const FlatHierarchy::Feeder::Entry& b) const {
        return a.tNear > b.tNear || (a.tNear == b.tNear && a.index > b.index);
    }
};

} // namespace

FlatHierarchy::Feeder::Feeder(const FlatHierarchy& tree, const TraversalRay& ray,
                              std::vector<Entry>& scratch)
    : tree_(tree), ray_(ray), heap_(scratch) {
    heap_.clear();
    if (tree_.nodeCount_ > 0) {
        push(0);
    }
}

void FlatHierarchy::Feeder::push(std::int32_t index) {
    const FlatNode& node = tree_.nodes_[index];
    double tNear;
    double tFar;
    if (!slabTest(node.min, node.max, ray_, tNear, tFar)) {
        return;
    }
    // Entries that are not finite would break the heap's order; with a finite origin and the
    // clamped inverse direction they cannot occur, and the march drops such intervals anyway.
    if (!std::isfinite(tNear) || !std::isfinite(tFar)) {
        return;
    }
    heap_.push_back(Entry{tNear, tFar, index});
    std::push_heap(heap_.begin(), heap_.end(), Later{});
}

void FlatHierarchy::Feeder::pushChildren(std::int32_t index) {
    const std::int32_t left = index + 1;
    const std::int32_t right = tree_.nodes_[left].end;
#if defined(__SSE2__)
    // slabTest for both children at once, one in each lane: the same operations in the same
    // order, and max/min that keep the running value unless the new one is strictly beyond it.
    const FlatNode& l = tree_.nodes_[left];
    const FlatNode& r = tree_.nodes_[right];
    __m128d tNear = _mm_set1_pd(ray_.tMin);
    __m128d tFar = _mm_set1_pd(ray_.tMax);
    for (int a = 0; a < 3; ++a) {
        const int sg = ray_.sign[a];
        const float* lNear = sg ? l.max : l.min;
        const float* lFar = sg ? l.min : l.max;
        const float* rNear = sg ? r.max : r.min;
        const float* rFar = sg ? r.min : r.max;
        const __m128d o = _mm_set1_pd(ray_.origin[a]);
        const __m128d inv = _mm_set1_pd(ray_.inverseDirection[a]);
        const __m128d nearT = _mm_mul_pd(_mm_sub_pd(_mm_setr_pd(lNear[a], rNear[a]), o), inv);
        const __m128d farT = _mm_mul_pd(_mm_sub_pd(_mm_setr_pd(lFar[a], rFar[a]), o), inv);
        tNear = _mm_max_pd(nearT, tNear);
        tFar = _mm_min_pd(farT, tFar);
    }
    double nearOf[2], farOf[2];
    _mm_storeu_pd(nearOf, tNear);
    _mm_storeu_pd(farOf, tFar);
    const std::int32_t indices[2] = {left, right};
    for (int k = 0; k < 2; ++k) {
        if (nearOf[k] <= farOf[k] * 1.0000009536743164 && std::isfinite(nearOf[k]) &&
            std::isfinite(farOf[k])) {
            heap_.push_back(Entry{nearOf[k], farOf[k], indices[k]});
            std::push_heap(heap_.begin(), heap_.end(), Later{});
        }
    }
#else
    push(left);
    push(right);
#endif
}

void FlatHierarchy::Feeder::openToLeaf() {
    while (!heap_.empty() && tree_.nodes_[heap_.front().index].count < 0) {
        const std::int32_t index = heap_.front().index;
        std::pop_heap(heap_.begin(), heap_.end(), Later{});
        heap_.pop_back();
        pushChildren(index);
    }
}

void FlatHierarchy::Feeder::feed(IntervalCollector& list, double tLimit) {
    while (!heap_.empty() && heap_.front().tNear < tLimit) {
        const Entry e = heap_.front();
        std::pop_heap(heap_.begin(), heap_.end(), Later{});
        heap_.pop_back();
        const FlatNode& node = tree_.nodes_[e.index];
        if (node.count < 0) {
            pushChildren(e.index);
        } else {
            list.append(e.tNear, e.tFar, const_cast<FlatNode*>(&node));
        }
    }
}

bool FlatHierarchy::Feeder::nextEnter(double& tEnter) {
    openToLeaf();
    if (heap_.empty()) {
        return false;
    }
    tEnter = heap_.front().tNear;
    return true;
}

void FlatHierarchy::intersect(const TraversalRay& ray, IntervalCollector& collector) const {
    std::int32_t i = 0;
    while (i < nodeCount_) {
        const FlatNode& node = nodes_[i];
        double tNear;
        double tFar;
        if (!slabTest(node.min, node.max, ray, tNear, tFar)) {
            i = node.end; // the whole subtree is missed
            continue;
        }
        if (node.count >= 0) {
            collector.add(tNear, tFar, const_cast<FlatNode*>(&node));
        }
        ++i;
    }
}

} // namespace velquin
