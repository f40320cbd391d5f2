// PNG writing of a rendered picture, on one thread and on two: the file's bytes are the same,
// the time is not.
#include "renderer/Image.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

using velquin::renderer::encodePng;
using velquin::renderer::Image;

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

} // namespace

BENCHMARK_MAIN();
