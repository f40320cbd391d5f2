// The per-ray records shared by both hierarchies: ray preparation and the interval collector.
#include "field/RayIntervals.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velquin {
namespace {

std::vector<std::intptr_t> payloadsOf(const IntervalCollector& c) {
    std::vector<std::intptr_t> out;
    for (const RayInterval* i = c.head; i != nullptr; i = i->next) {
        out.push_back(reinterpret_cast<std::intptr_t>(i->payload));
    }
    return out;
}

void* tag(std::intptr_t n) {
    return reinterpret_cast<void*>(n);
}

TEST(TraversalRay, KeepsOriginDirectionAndRange) {
    const double o[3] = {1.5, -2.0, 0x1p-40};
    const float d[3] = {0.1f, -4.0f, 0.0f};
    const TraversalRay ray(o, d, 0.25, 1e18);
    EXPECT_EQ(ray.origin[2], 0x1p-40);
    EXPECT_EQ(ray.direction[0], 0.1f);
    // The reciprocal of the float widened to double, not of the decimal 0.1.
    EXPECT_EQ(ray.inverseDirection[0], 1.0 / static_cast<double>(0.1f));
    EXPECT_NE(ray.inverseDirection[0], 10.0);
    EXPECT_EQ(ray.inverseDirection[1], -0.25);
    EXPECT_EQ(ray.inverseDirection[2], 1e18);
    EXPECT_EQ(ray.sign[0], 0);
    EXPECT_EQ(ray.sign[1], 1);
    EXPECT_EQ(ray.sign[2], 0);
    EXPECT_EQ(ray.tMin, 0.25);
    EXPECT_EQ(ray.tMax, 1e18);
}

TEST(IntervalCollector, FinishSortsStablyAndLinks) {
    IntervalCollector c;
    c.reserve(25);
    c.add(1.0, 5.0, tag(1));
    c.add(0.0, 2.0, tag(2));
    c.add(1.0, 3.0, tag(3));
    c.add(-0.5, 9.0, tag(4));
    c.add(0.0, 1.0, tag(5));
    EXPECT_EQ(c.head, nullptr);
    c.finish();
    EXPECT_EQ(payloadsOf(c), (std::vector<std::intptr_t>{4, 2, 5, 1, 3}));
    EXPECT_TRUE(c.pending.empty());
    EXPECT_EQ(c.head->tExit, 9.0);

    // Past the small-list sort as well: 100 intervals with three distinct entries.
    IntervalCollector big;
    for (int i = 0; i < 100; ++i) {
        big.add(static_cast<double>((i * 7) % 3), 0.0, tag(i));
    }
    big.finish();
    std::vector<std::intptr_t> expect;
    for (int key = 0; key < 3; ++key) {
        for (int i = 0; i < 100; ++i) {
            if ((i * 7) % 3 == key) {
                expect.push_back(i);
            }
        }
    }
    EXPECT_EQ(payloadsOf(big), expect);
}

TEST(IntervalCollector, FinishWithNothingPendingKeepsHead) {
    IntervalCollector c;
    c.finish();
    EXPECT_EQ(c.head, nullptr);
    RayInterval outside;
    c.head = &outside; // whatever the caller put there stays
    c.finish();
    EXPECT_EQ(c.head, &outside);
}

TEST(IntervalCollector, RemoveUnlinksHeadMiddleAndTail) {
    IntervalCollector c;
    for (int i = 0; i < 4; ++i) {
        c.add(i, i + 1.0, tag(i));
    }
    c.finish();
    RayInterval* first = c.head;
    RayInterval* second = first->next;
    RayInterval* after = second->next;
    EXPECT_EQ(c.remove(first, second), after); // middle
    EXPECT_EQ(second->next, nullptr);
    EXPECT_EQ(payloadsOf(c), (std::vector<std::intptr_t>{0, 2, 3}));
    RayInterval* third = c.head->next;
    EXPECT_EQ(c.remove(nullptr, c.head), third); // head
    EXPECT_EQ(c.head, third);
    EXPECT_EQ(payloadsOf(c), (std::vector<std::intptr_t>{2, 3}));
    EXPECT_EQ(c.remove(c.head, c.head->next), nullptr); // tail
    EXPECT_EQ(payloadsOf(c), (std::vector<std::intptr_t>{2}));
    c.remove(nullptr, c.head);
    EXPECT_EQ(c.head, nullptr);
}

TEST(IntervalCollector, StorageIsStableAndReusedAfterClear) {
    IntervalCollector c;
    std::vector<RayInterval*> seen;
    for (int i = 0; i < 2000; ++i) { // spans several chunks
        c.add(2000.0 - i, 0.0, tag(i));
        seen.push_back(c.pending.back());
    }
    double* big = c.makeArray<double>(5000); // larger than a chunk
    big[4999] = 1.0;
    c.finish();
    for (int i = 0; i < 2000; ++i) {
        EXPECT_EQ(seen[i]->payload, tag(i)); // no interval moved
    }
    EXPECT_EQ(c.head, seen.back());
    c.clear();
    EXPECT_EQ(c.head, nullptr);
    // A second ray of the same size gets the same storage back.
    c.add(0.0, 1.0, nullptr);
    EXPECT_EQ(c.pending.back(), seen.front());
    // Alignment of mixed records.
    (void)c.makeArray<float>(3);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c.makeArray<double>(1)) % alignof(double), 0u);
}

} // namespace
} // namespace velquin
