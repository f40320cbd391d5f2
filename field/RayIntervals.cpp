#include "field/RayIntervals.h"

#include <algorithm>
#include <cmath>

namespace velquin {

TraversalRay::TraversalRay(const double rayOrigin[3], const float rayDirection[3], double nearest,
                           double farthest)
    : tMin(nearest), tMax(farthest) {
    for (int a = 0; a < 3; ++a) {
        origin[a] = rayOrigin[a];
        direction[a] = rayDirection[a];
        double inv = 1.0 / static_cast<double>(rayDirection[a]);
        if (inv > 1e18) {
            inv = 1e18;
        } else if (inv < -1e18) {
            inv = -1e18;
        }
        inverseDirection[a] = inv;
        sign[a] = std::signbit(rayDirection[a]) ? 1 : 0;
    }
}

void IntervalCollector::reserve(std::size_t n) {
    pending.reserve(n);
}

void IntervalCollector::add(double tEnter, double tExit, void* payload) {
    RayInterval* interval = make<RayInterval>();
    interval->tEnter = tEnter;
    interval->tExit = tExit;
    interval->payload = payload;
    interval->next = nullptr;
    interval->order = static_cast<std::uint32_t>(pending.size());
    pending.push_back(interval);
}

void IntervalCollector::finish() {
    if (pending.empty()) {
        return;
    }
    auto earlier = [](const RayInterval* x, const RayInterval* y) { return x->tEnter < y->tEnter; };
    const std::size_t n = pending.size();
    if (n <= 32) {
        // Insertion sort: stable and needs no scratch buffer, so a typical ray allocates nothing.
        for (std::size_t i = 1; i < n; ++i) {
            RayInterval* item = pending[i];
            std::size_t j = i;
            while (j > 0 && earlier(item, pending[j - 1])) {
                pending[j] = pending[j - 1];
                --j;
            }
            pending[j] = item;
        }
    } else {
        // Entry distance, then hit order: every key differs, so this in-place sort gives exactly
        // the stable order without the scratch buffer a stable sort would allocate.
        std::sort(pending.begin(), pending.end(), [](const RayInterval* x, const RayInterval* y) {
            return x->tEnter < y->tEnter || (x->tEnter == y->tEnter && x->order < y->order);
        });
    }
    for (std::size_t i = 0; i + 1 < n; ++i) {
        pending[i]->next = pending[i + 1];
    }
    pending[n - 1]->next = nullptr;
    head = pending[0];
    pending.clear();
}

RayInterval* IntervalCollector::remove(RayInterval* prev, RayInterval* interval) {
    RayInterval* following = interval->next;
    if (prev == nullptr) {
        head = following;
    } else {
        prev->next = following;
    }
    interval->next = nullptr;
    return following;
}

void IntervalCollector::clear() {
    head = nullptr;
    pending.clear();
    current_ = 0;
    used_ = 0;
}

void* IntervalCollector::allocate(std::size_t bytes, std::size_t align) {
    // Chunks are used in order; one too small for the request is skipped until the next clear().
    while (current_ < chunks_.size()) {
        Chunk& chunk = chunks_[current_];
        const std::size_t start = (used_ + align - 1) / align * align;
        if (start <= chunk.size && bytes <= chunk.size - start) {
            used_ = start + bytes;
            return chunk.bytes.get() + start;
        }
        ++current_;
        used_ = 0;
    }
    // operator new[] aligns to __STDCPP_DEFAULT_NEW_ALIGNMENT__, enough for every record here.
    Chunk chunk;
    chunk.size = std::max(kChunkBytes, bytes);
    chunk.bytes.reset(new std::byte[chunk.size]);
    chunks_.push_back(std::move(chunk));
    current_ = chunks_.size() - 1;
    used_ = bytes;
    return chunks_.back().bytes.get();
}

namespace {

struct CollectorPool {
    std::vector<std::unique_ptr<IntervalCollector>> collectors;
    std::size_t inUse = 0;
};

CollectorPool& threadPool() {
    thread_local CollectorPool pool;
    return pool;
}

} // namespace

CollectorLease::CollectorLease() {
    CollectorPool& pool = threadPool();
    if (pool.inUse == pool.collectors.size()) {
        pool.collectors.push_back(std::make_unique<IntervalCollector>());
        pool.collectors.back()->reserve(32);
    }
    collector_ = pool.collectors[pool.inUse++].get();
    collector_->clear();
}

CollectorLease::~CollectorLease() {
    collector_->clear();
    --threadPool().inUse;
}

} // namespace velquin
