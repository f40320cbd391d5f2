// Building and traversing the two metaball hierarchies.
#include "field/MovingHierarchy.h"
#include "raytrace/RayHierarchy.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace velquin;

// A cloud of count metaballs in a cube whose side grows with the cube root of count, so the
// density (and the leaf sizes) stay comparable across sizes.
struct Cloud {
    std::vector<float> positions;
    std::vector<float> velocities;
    std::vector<double> radii;
    std::vector<double> radiusVelocities;
    float side = 0.0f;
};

Cloud makeCloud(std::int32_t count, std::uint32_t seed) {
    Cloud c;
    c.side = 10.0f * std::cbrt(static_cast<float>(count));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, c.side);
    std::uniform_real_distribution<float> uv(-5.0f, 5.0f);
    std::uniform_real_distribution<double> ur(5.0, 15.0);
    std::uniform_real_distribution<double> ug(-2.0, 2.0);
    c.positions.resize(3 * static_cast<std::size_t>(count));
    c.velocities.resize(3 * static_cast<std::size_t>(count));
    c.radii.resize(static_cast<std::size_t>(count));
    c.radiusVelocities.resize(static_cast<std::size_t>(count));
    for (float& v : c.positions) {
        v = u(rng);
    }
    for (float& v : c.velocities) {
        v = uv(rng);
    }
    for (double& r : c.radii) {
        r = ur(rng);
    }
    for (double& r : c.radiusVelocities) {
        r = ug(rng);
    }
    return c;
}

// Defaults of the object: radius 20 (here 10 for a denser cloud), depth 15, leaf size 30,
// leaf length 8 x radius.
constexpr float kRadius = 10.0f;
constexpr float kLeafLength = 80.0f;

void BM_BuildStatic(benchmark::State& state) {
    const auto count = static_cast<std::int32_t>(state.range(0));
    const Cloud cloud = makeCloud(count, 1);
    std::unique_ptr<BVHNode> root;
    for (auto _ : state) {
        buildTree(root, cloud.positions.data(), nullptr, count, kRadius, 15, 30, kLeafLength);
        benchmark::DoNotOptimize(root.get());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_BuildStatic)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_BuildMoving(benchmark::State& state) {
    const auto count = static_cast<std::int32_t>(state.range(0));
    const Cloud cloud = makeCloud(count, 2);
    std::unique_ptr<BVHMNode> root;
    for (auto _ : state) {
        buildTree(root, cloud.positions.data(), cloud.velocities.data(), cloud.radii.data(),
                  cloud.radiusVelocities.data(), count, kRadius, 15, 30, kLeafLength);
        benchmark::DoNotOptimize(root.get());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_BuildMoving)->Arg(100000)->Unit(benchmark::kMillisecond);

// Rays from outside the cloud towards random points inside it.
std::vector<TraversalRay> makeRays(const Cloud& cloud, int n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, cloud.side);
    std::vector<TraversalRay> rays;
    rays.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double o[3] = {-0.5 * cloud.side, u(rng), u(rng)};
        const float d[3] = {static_cast<float>(u(rng) - o[0]), static_cast<float>(u(rng) - o[1]),
                            static_cast<float>(u(rng) - o[2])};
        rays.emplace_back(o, d, 0.0, 1e18);
    }
    return rays;
}

void BM_CollectStatic(benchmark::State& state) {
    const std::int32_t count = 10000;
    const Cloud cloud = makeCloud(count, 3);
    std::unique_ptr<BVHNode> root;
    buildTree(root, cloud.positions.data(), nullptr, count, kRadius, 15, 30, kLeafLength);
    const std::vector<TraversalRay> rays = makeRays(cloud, 10000, 4);
    IntervalCollector collector;
    std::int64_t intervals = 0;
    for (auto _ : state) {
        for (const TraversalRay& ray : rays) {
            collector.clear();
            collector.reserve(25);
            root->intersect(ray, collector);
            collector.finish();
            for (RayInterval* i = collector.head; i != nullptr; i = i->next) {
                ++intervals;
            }
        }
    }
    benchmark::DoNotOptimize(intervals);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rays.size()));
    state.counters["intervals/ray"] = benchmark::Counter(
        static_cast<double>(intervals) /
        static_cast<double>(state.iterations() * static_cast<std::int64_t>(rays.size())));
}
BENCHMARK(BM_CollectStatic)->Unit(benchmark::kMillisecond);

void BM_CollectMoving(benchmark::State& state) {
    const std::int32_t count = 10000;
    const Cloud cloud = makeCloud(count, 5);
    std::unique_ptr<BVHMNode> root;
    buildTree(root, cloud.positions.data(), cloud.velocities.data(), nullptr, nullptr, count,
              kRadius, 15, 30, kLeafLength);
    const std::vector<TraversalRay> rays = makeRays(cloud, 10000, 6);
    IntervalCollector collector;
    std::int64_t intervals = 0;
    float time = 0.0f;
    for (auto _ : state) {
        for (const TraversalRay& ray : rays) {
            collector.clear();
            collector.reserve(25);
            root->intersect(ray, collector, time);
            collector.finish();
            for (RayInterval* i = collector.head; i != nullptr; i = i->next) {
                ++intervals;
            }
            time = time >= 1.0f ? 0.0f : time + 0.001f;
        }
    }
    benchmark::DoNotOptimize(intervals);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rays.size()));
}
BENCHMARK(BM_CollectMoving)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
