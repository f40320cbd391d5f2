// The standalone renderer's own input and output: point files read, and PNG writing of a
// rendered picture on one thread and on two (the file's bytes are the same, the time is not).
#include "renderer/Image.h"
#include "renderer/PointFile.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

using velquin::renderer::encodePng;
using velquin::renderer::Image;
using velquin::renderer::readPly;

// A smooth picture with edges, like a render of blobs on a gradient background.
Image picture(int w, int h) {
    Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float* p = img.pixel(x, y);
            const float u = static_cast<float>(x) / static_cast<float>(w);
            const float v = static_cast<float>(y) / static_cast<float>(h);
            const bool blob = std::sin(20.0f * u) * std::cos(15.0f * v) > 0.3f;
            p[0] = blob ? 0.8f * u : 0.2f;
            p[1] = blob ? 0.5f * v : 0.3f + 0.2f * v;
            p[2] = blob ? 0.4f : 0.6f;
            p[3] = 1.0f;
        }
    return img;
}

void BM_EncodePng(benchmark::State& state) {
    const Image img = picture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int threads = static_cast<int>(state.range(2));
    for (auto _ : state)
        benchmark::DoNotOptimize(encodePng(img, threads).size());
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(BM_EncodePng)
    ->Args({640, 480, 1})
    ->Args({640, 480, 2})
    ->Args({1280, 720, 1})
    ->Args({1280, 720, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A binary PLY of n points, positions only (as bench/make_scenes.py writes the clouds), or with
// radius and colour too.
std::string writeCloud(std::int64_t n, bool extra) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("velquin_bench_" + std::to_string(::getpid()) + "_" +
                               std::to_string(n) + (extra ? "x" : "") + ".ply"))
                                 .string();
    std::ofstream out(path, std::ios::binary);
    out << "ply\nformat binary_little_endian 1.0\nelement vertex " << n
        << "\nproperty float x\nproperty float y\nproperty float z\n";
    if (extra)
        out << "property float radius\nproperty uchar red\nproperty uchar green\n"
               "property uchar blue\n";
    out << "end_header\n";
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    for (std::int64_t i = 0; i < n; ++i) {
        const float xyzr[4] = {u(rng), u(rng), u(rng), 1.0f + 0.01f * u(rng)};
        out.write(reinterpret_cast<const char*>(xyzr), extra ? 16 : 12);
        if (extra) {
            const unsigned char rgb[3] = {1, 2, 3};
            out.write(reinterpret_cast<const char*>(rgb), 3);
        }
    }
    return path;
}

void BM_ReadPly(benchmark::State& state) {
    const std::string path = writeCloud(state.range(0), state.range(1) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(readPly(path).size());
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadPly)
    ->Args({100000, 0})
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
