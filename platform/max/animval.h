// Animatable values of the host stand-in: a value that is either constant or keyed at ticks with
// linear interpolation, read at a time with validity narrowing. Also the animate-mode switch that
// decides whether a parameter change at a time makes a key.
#pragma once

#include "platform/max/maxtypes.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

// Animate mode ("Auto Key"): while on, setting an animatable parameter makes a key.
void AnimateOn();
void AnimateOff();
BOOL Animating();
// Turns animate mode off for its lifetime and restores the previous state.
class AnimateSuspend {
public:
    AnimateSuspend();
    ~AnimateSuspend();
    AnimateSuspend(const AnimateSuspend&) = delete;
    AnimateSuspend& operator=(const AnimateSuspend&) = delete;

private:
    BOOL was_;
};

namespace animval_detail {
inline float lerp(float a, float b, float u) {
    return a + (b - a) * u;
}
inline float interpolate(float a, float b, float u) {
    return lerp(a, b, u);
}
inline int interpolate(int a, int b, float u) {
    // Integers follow the straight line and round to the nearest whole value.
    return static_cast<int>(std::lround(static_cast<double>(a) +
                                        (static_cast<double>(b) - static_cast<double>(a)) * u));
}
inline Point3 interpolate(const Point3& a, const Point3& b, float u) {
    return {lerp(a.x, b.x, u), lerp(a.y, b.y, u), lerp(a.z, b.z, u)};
}
inline float add(float a, float d) {
    return a + d;
}
inline int add(int a, int d) {
    return a + d;
}
inline Point3 add(const Point3& a, const Point3& d) {
    return a + d;
}
inline float sub(float a, float b) {
    return a - b;
}
inline int sub(int a, int b) {
    return a - b;
}
inline Point3 sub(const Point3& a, const Point3& b) {
    return a - b;
}
} // namespace animval_detail

// A float, int or Point3 value: constant, or keys sorted by time. Before the first key the value
// is the first key's, after the last key the last key's; between keys it is linear.
template <class T> class AnimValue {
public:
    struct Key {
        TimeValue time;
        T value;
        bool operator==(const Key&) const = default;
    };

    AnimValue() = default;
    explicit AnimValue(const T& v) : constant_(v) {}

    bool IsAnimated() const { return !keys_.empty(); }
    int NumKeys() const { return static_cast<int>(keys_.size()); }
    const std::vector<Key>& Keys() const { return keys_; }
    const T& Constant() const { return constant_; }

    // The value at t; `valid` is narrowed to an interval containing t over which the value is
    // known to hold: a constant narrows nothing; outside the keys the value holds up to (from)
    // the end key; between two equal keys it holds over their segment; elsewhere only at t.
    T Get(TimeValue t, Interval& valid) const {
        if (keys_.empty())
            return constant_;
        Interval iv;
        T v;
        if (t <= keys_.front().time) {
            v = keys_.front().value;
            iv.Set(TIME_NegInfinity, keys_.front().time);
        } else if (t >= keys_.back().time) {
            v = keys_.back().value;
            iv.Set(keys_.back().time, TIME_PosInfinity);
        } else {
            // keys_[i].time <= t < keys_[i + 1].time
            auto it = std::upper_bound(keys_.begin(), keys_.end(), t,
                                       [](TimeValue tt, const Key& k) { return tt < k.time; });
            const Key& b = *it;
            const Key& a = *(it - 1);
            if (a.value == b.value) {
                v = a.value;
                iv.Set(a.time, b.time);
            } else {
                float u = static_cast<float>(t - a.time) / static_cast<float>(b.time - a.time);
                v = animval_detail::interpolate(a.value, b.value, u);
                iv.SetInstant(t);
            }
        }
        valid &= iv;
        return v;
    }
    T Get(TimeValue t) const {
        Interval iv = FOREVER;
        return Get(t, iv);
    }

    // Drops all keys; the value becomes this constant.
    void SetConstant(const T& v) {
        keys_.clear();
        constant_ = v;
    }
    // Makes (or replaces) a key at t. The first key of a constant value also keeps the old
    // constant at time 0 when t is not 0, so that animating a value starts from what it was.
    void SetKey(TimeValue t, const T& v) {
        if (keys_.empty() && t != 0)
            keys_.push_back({0, constant_});
        auto it = std::lower_bound(keys_.begin(), keys_.end(), t,
                                   [](const Key& k, TimeValue tt) { return k.time < tt; });
        if (it != keys_.end() && it->time == t)
            it->value = v;
        else
            keys_.insert(it, Key{t, v});
        constant_ = keys_.front().value;
    }
    // A change with animate mode off: a constant is replaced; a keyed value is replaced at a key
    // that stands at t, else the whole curve moves so that its value at t becomes v.
    void SetOffset(TimeValue t, const T& v) {
        if (keys_.empty()) {
            constant_ = v;
            return;
        }
        for (Key& k : keys_)
            if (k.time == t) {
                k.value = v;
                return;
            }
        T d = animval_detail::sub(v, Get(t));
        for (Key& k : keys_)
            k.value = animval_detail::add(k.value, d);
        constant_ = keys_.front().value;
    }
    // Keys as loaded from a file (sorted by the caller's order; duplicates keep the last).
    void SetKeys(std::vector<Key> keys) {
        std::stable_sort(keys.begin(), keys.end(),
                         [](const Key& a, const Key& b) { return a.time < b.time; });
        keys_.clear();
        for (const Key& k : keys) {
            if (!keys_.empty() && keys_.back().time == k.time)
                keys_.back() = k;
            else
                keys_.push_back(k);
        }
        if (!keys_.empty())
            constant_ = keys_.front().value;
    }
    // Applies f to the constant and every key value (range clamping of a whole curve).
    template <class F> void Transform(F f) {
        constant_ = f(constant_);
        for (Key& k : keys_)
            k.value = f(k.value);
    }
    bool operator==(const AnimValue& o) const = default;

private:
    T constant_{};
    std::vector<Key> keys_;
};
