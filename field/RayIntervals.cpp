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

RayInterval* IntervalCollector::newInterval(double tEnter, double tExit, void* payload) {
    RayInterval* interval = make<RayInterval>();
    interval->tEnter = tEnter;
    interval->tExit = tExit;
    interval->payload = payload;
    interval->rayData = nullptr;
    interval->next = nullptr;
    return interval;
}

void IntervalCollector::add(double tEnter, double tExit, void* payload) {
    pending.push_back(newInterval(tEnter, tExit, payload));
}

void IntervalCollector::finish() {
    if (pending.empty()) {
        return;
    }
    const std::size_t n = pending.size();
    // The keys are sorted apart from the intervals, so comparisons read no interval memory.
    // Entry distance, then hit order: every key differs, so any sort gives exactly the stable
    // order.
    keys_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        keys_[i] = SortKey{pending[i]->tEnter, static_cast<std::uint32_t>(i), pending[i]};
    }
    auto earlier = [](const SortKey& x, const SortKey& y) {
        return x.tEnter < y.tEnter || (x.tEnter == y.tEnter && x.order < y.order);
    };
    if (n <= 32) {
        for (std::size_t i = 1; i < n; ++i) {
            const SortKey item = keys_[i];
            std::size_t j = i;
            while (j > 0 && earlier(item, keys_[j - 1])) {
                keys_[j] = keys_[j - 1];
                --j;
            }
            keys_[j] = item;
        }
    } else {
        std::sort(keys_.begin(), keys_.end(), earlier);
    }
    for (std::size_t i = 0; i + 1 < n; ++i) {
        keys_[i].interval->next = keys_[i + 1].interval;
    }
    keys_[n - 1].interval->next = nullptr;
    head = keys_[0].interval;
    tail_ = keys_[n - 1].interval;
    pending.clear();
}

void IntervalCollector::append(double tEnter, double tExit, void* payload) {
    RayInterval* interval = newInterval(tEnter, tExit, payload);
    if (head == nullptr) {
        head = interval;
    } else {
        tail_->next = interval;
    }
    tail_ = interval;
}

RayInterval* IntervalCollector::remove(RayInterval* prev, RayInterval* interval) {
    RayInterval* following = interval->next;
    if (interval == tail_) {
        tail_ = prev;
    }
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
    tail_ = nullptr;
    feeder = nullptr;
    fedTo_ = -std::numeric_limits<double>::infinity();
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

} // namespace velquin
