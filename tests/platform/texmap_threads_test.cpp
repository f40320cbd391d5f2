#include "platform/max/texmap.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

struct PointContext : ShadeContext {
    Point3 p;
    Point3 P() override { return p; }
    Point3 Normal() override { return Point3(0, 0, 1); }
    Point3 V() override { return Point3(0, 0, -1); }
};

// Every map, evaluated by many threads at once with one context each, gives the values a single
// thread gives.
TEST(TexmapThreads, ConcurrentEvaluationMatchesSerial) {
    Texmap* maps[] = {
        CreateTexmap("noise", {{"size", 0.3}, {"levels", 6}, {"seed", 99}}),
        CreateTexmap("gradient", {{"axis", 1}, {"from", -1}, {"to", 2}}),
        CreateTexmap("checker", {{"size", 0.25}}),
        CreateTexmap("constant", {{"value", 0.5}}),
    };
    constexpr int kPoints = 4000;
    auto point = [](int i) {
        return Point3(-3.0f + 0.0015f * i, 0.001f * (i % 997) - 0.5f, 0.37f * (i % 11));
    };
    std::vector<float> serial;
    for (Texmap* m : maps) {
        ASSERT_TRUE(m);
        PointContext sc;
        for (int i = 0; i < kPoints; ++i) {
            sc.p = point(i);
            serial.push_back(m->EvalMono(sc));
        }
    }

    constexpr int kThreads = 8;
    std::vector<std::vector<float>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            PointContext sc;
            // Threads walk the points in different orders so that evaluations interleave.
            for (Texmap* m : maps)
                for (int k = 0; k < kPoints; ++k) {
                    int i = (t % 2) ? kPoints - 1 - k : k;
                    sc.p = point(i);
                    results[t].push_back(m->EvalMono(sc));
                }
        });
    for (auto& th : threads)
        th.join();

    for (int t = 0; t < kThreads; ++t)
        for (int mi = 0; mi < 4; ++mi)
            for (int k = 0; k < kPoints; ++k) {
                int i = (t % 2) ? kPoints - 1 - k : k;
                ASSERT_EQ(results[t][mi * kPoints + k], serial[mi * kPoints + i])
                    << "thread " << t << " map " << mi << " point " << i;
            }
    for (Texmap* m : maps)
        m->DeleteThis();
}

} // namespace
