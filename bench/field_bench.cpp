// Field core micro-benchmarks: the kernels alone and the per-leaf accumulate loops.
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "field/Evaluators.h"

namespace {

using namespace velquin;

// A leaf-sized batch: 30 metaballs in a 4-unit cube around the query points, radius 2, so that
// roughly half of them reach a query point.
struct Leaf30 {
    std::vector<float> positions;
    std::vector<double> radii;
    std::vector<double> radiiSq;
    std::vector<std::int32_t> indices;
    Leaf30() {
        std::mt19937 rng(12345);
        std::uniform_real_distribution<float> pos(-2.0f, 2.0f);
        std::uniform_real_distribution<double> rad(1.5, 2.5);
        for (int i = 0; i < 30; ++i) {
            for (int c = 0; c < 3; ++c) {
                positions.push_back(pos(rng));
            }
            radii.push_back(rad(rng));
            radiiSq.push_back(radii.back() * radii.back());
            indices.push_back(i);
        }
    }
};

const float kQuery[3] = {0.1f, -0.2f, 0.3f};

void benchKernel(benchmark::State& state, FalloffKernel kernel) {
    std::vector<double> distSq(1024);
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> d(0.0, 4.0);
    for (double& v : distSq) {
        v = d(rng);
    }
    double acc = 0.0;
    for (auto _ : state) {
        for (double v : distSq) {
            acc += kernel(4.0, v);
        }
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(distSq.size()));
}
BENCHMARK_CAPTURE(benchKernel, PowerOfTwo, kernelPowerOfTwo);
BENCHMARK_CAPTURE(benchKernel, PowerOfThree, kernelPowerOfThree);
BENCHMARK_CAPTURE(benchKernel, PowerOfFour, kernelPowerOfFour);
BENCHMARK_CAPTURE(benchKernel, PowerOfFive, kernelPowerOfFive);
BENCHMARK_CAPTURE(benchKernel, HermitePowerOfTwo, kernelHermitePowerOfTwo);
BENCHMARK_CAPTURE(benchKernel, HermitePowerOfFour, kernelHermitePowerOfFour);
BENCHMARK_CAPTURE(benchKernel, Wyvill, kernelWyvill);

void benchFieldAccumulate(benchmark::State& state) {
    Leaf30 leaf;
    for (auto _ : state) {
        Field f;
        f.kernel = kernelPowerOfThree;
        f.radiusSq = 4.0;
        f.positions = leaf.positions.data();
        f.setPoint(kQuery);
        f.accumulate(leaf.indices.data(), 30);
        benchmark::DoNotOptimize(f.sum);
    }
    state.SetItemsProcessed(state.iterations() * 30);
}
BENCHMARK(benchFieldAccumulate);

void benchFieldGradAccumulate(benchmark::State& state) {
    Leaf30 leaf;
    for (auto _ : state) {
        FieldGrad g;
        g.kernel = kernelPowerOfThree;
        g.radiusSq = 4.0;
        g.positions = leaf.positions.data();
        g.setPoints(kQuery);
        g.accumulate(leaf.indices.data(), 30);
        benchmark::DoNotOptimize(g.sums);
    }
    state.SetItemsProcessed(state.iterations() * 30);
}
BENCHMARK(benchFieldGradAccumulate);

void benchFieldAvg(benchmark::State& state) {
    Leaf30 leaf;
    AverageSettings settings;
    settings.sized = true;
    for (auto _ : state) {
        FieldAvg f;
        f.kernel = kernelPowerOfThree;
        f.radiusSq = 4.0;
        f.positions = leaf.positions.data();
        f.perBallRadiusSq = leaf.radii.data();
        f.setPoint(kQuery);
        f.accumulate(leaf.indices.data(), 30);
        averageSurfaceValue(f, settings);
        benchmark::DoNotOptimize(f.sum);
    }
    state.SetItemsProcessed(state.iterations() * 30);
}
BENCHMARK(benchFieldAvg);

void benchFieldGradMovingSized(benchmark::State& state) {
    Leaf30 leaf;
    std::vector<float> colors(90, 0.5f);
    for (auto _ : state) {
        FieldGradMoving g;
        g.kernel = kernelPowerOfThree;
        g.colorKernel = kernelPowerOfTwo;
        g.colors = colors.data();
        g.colorCount = 30;
        g.radiusSq = 4.0;
        g.setPoints(kQuery);
        g.accumulateSized(leaf.positions.data(), leaf.radiiSq.data(), leaf.radii.data(),
                          leaf.indices.data(), 30);
        benchmark::DoNotOptimize(g.sums);
        benchmark::DoNotOptimize(g.colorSum);
    }
    state.SetItemsProcessed(state.iterations() * 30);
}
BENCHMARK(benchFieldGradMovingSized);

} // namespace

BENCHMARK_MAIN();
