// The host's growable list. Growth is explicit: Append and Insert take an allocExtra count, and
// when the list must grow it reserves that many spare entries beyond what it needs, so callers
// that append one element at a time choose their own growth step.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

template <class T> class Tab {
public:
    Tab() = default;

    int Count() const { return static_cast<int>(v_.size()); }
    int Capacity() const { return static_cast<int>(v_.capacity()); }
    T& operator[](int i) { return v_[static_cast<size_t>(i)]; }
    const T& operator[](int i) const { return v_[static_cast<size_t>(i)]; }
    T* Addr(int i) { return v_.data() + i; }
    const T* Addr(int i) const { return v_.data() + i; }

    // Appends num elements; answers the index of the first.
    int Append(int num, const T* el, int allocExtra = 0) {
        int at = Count();
        grow(num, allocExtra);
        v_.insert(v_.end(), el, el + num);
        return at;
    }
    // Inserts num elements before index at (clamped to the list); answers at.
    int Insert(int at, int num, const T* el, int allocExtra = 0) {
        at = std::clamp(at, 0, Count());
        grow(num, allocExtra);
        v_.insert(v_.begin() + at, el, el + num);
        return at;
    }
    // Removes num elements from start (clipped to the list); answers the new count.
    int Delete(int start, int num) {
        if (start < 0 || start >= Count() || num <= 0)
            return Count();
        num = std::min(num, Count() - start);
        v_.erase(v_.begin() + start, v_.begin() + start + num);
        return Count();
    }
    // New entries are value-initialised.
    void SetCount(int n) { v_.resize(static_cast<size_t>(n < 0 ? 0 : n)); }
    void Resize(int n) {
        if (n > Capacity())
            v_.reserve(static_cast<size_t>(n));
    }
    void ZeroCount() { v_.clear(); }
    void Shrink() { v_.shrink_to_fit(); }
    // Sorts with a C comparison function (negative, zero, positive).
    void Sort(int (*cmp)(const void*, const void*)) {
        std::stable_sort(v_.begin(), v_.end(),
                         [cmp](const T& a, const T& b) { return cmp(&a, &b) < 0; });
    }
    T* begin() { return v_.data(); }
    T* end() { return v_.data() + v_.size(); }
    const T* begin() const { return v_.data(); }
    const T* end() const { return v_.data() + v_.size(); }

private:
    // At least allocExtra spare entries, and never less than half the capacity more: a caller that
    // appends one element at a time with a fixed step would otherwise copy the list over and over
    // (quadratic in its length; a million particles took seconds).
    void grow(int num, int allocExtra) {
        size_t need = v_.size() + static_cast<size_t>(num < 0 ? 0 : num);
        if (need > v_.capacity()) {
            size_t wanted = need + static_cast<size_t>(allocExtra < 0 ? 0 : allocExtra);
            v_.reserve(std::max(wanted, v_.capacity() + v_.capacity() / 2));
        }
    }
    std::vector<T> v_;
};
