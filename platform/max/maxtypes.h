// Basic value types of the host SDK stand-in: ticks and validity intervals, points, colours,
// boxes, matrices and class identifiers. Header only; standard library only.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

using TimeValue = int;
using ULONG = unsigned long;
using DWORD = std::uint32_t;
using BOOL = int;
using SClass_ID = ULONG;
// Strings of the stand-in SDK (the real one has its own string class with the same role).
using MSTR = std::string;
using TSTR = MSTR;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

constexpr TimeValue TIME_NegInfinity = std::numeric_limits<int>::min();
constexpr TimeValue TIME_PosInfinity = std::numeric_limits<int>::max();
constexpr int TIME_TICKSPERSEC = 4800;
constexpr int TicksPerFrame = 160;

// A closed range of ticks over which a value holds. An empty interval has start > end.
class Interval {
public:
    constexpr Interval() : start_(1), end_(0) {}
    constexpr Interval(TimeValue s, TimeValue e) : start_(s), end_(e) {}
    constexpr TimeValue Start() const { return start_; }
    constexpr TimeValue End() const { return end_; }
    constexpr void Set(TimeValue s, TimeValue e) { start_ = s, end_ = e; }
    constexpr void SetStart(TimeValue s) { start_ = s; }
    constexpr void SetEnd(TimeValue e) { end_ = e; }
    constexpr void SetInfinite() { start_ = TIME_NegInfinity, end_ = TIME_PosInfinity; }
    constexpr void SetEmpty() { start_ = 1, end_ = 0; }
    constexpr void SetInstant(TimeValue t) { start_ = end_ = t; }
    constexpr bool Empty() const { return start_ > end_; }
    constexpr bool InInterval(TimeValue t) const { return start_ <= t && t <= end_; }
    constexpr TimeValue Duration() const { return Empty() ? 0 : end_ - start_ + 1; }
    // Intersection: the value holds only where both hold.
    constexpr Interval& operator&=(const Interval& o) {
        if (o.start_ > start_) start_ = o.start_;
        if (o.end_ < end_) end_ = o.end_;
        return *this;
    }
    constexpr Interval operator&(const Interval& o) const {
        Interval r = *this;
        r &= o;
        return r;
    }
    constexpr bool operator==(const Interval& o) const {
        return (Empty() && o.Empty()) || (start_ == o.start_ && end_ == o.end_);
    }

private:
    TimeValue start_, end_;
};

constexpr Interval FOREVER(TIME_NegInfinity, TIME_PosInfinity);
constexpr Interval NEVER(1, 0);

class Point3 {
public:
    float x = 0.0f, y = 0.0f, z = 0.0f;
    constexpr Point3() = default;
    constexpr Point3(float X, float Y, float Z) : x(X), y(Y), z(Z) {}
    constexpr float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
    constexpr float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
    constexpr Point3 operator+(const Point3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    constexpr Point3 operator-(const Point3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    constexpr Point3 operator-() const { return {-x, -y, -z}; }
    constexpr Point3 operator*(float s) const { return {x * s, y * s, z * s}; }
    constexpr Point3 operator/(float s) const { return {x / s, y / s, z / s}; }
    constexpr Point3& operator+=(const Point3& o) { return *this = *this + o; }
    constexpr Point3& operator-=(const Point3& o) { return *this = *this - o; }
    constexpr Point3& operator*=(float s) { return *this = *this * s; }
    constexpr bool operator==(const Point3& o) const = default;
    float Length() const { return std::sqrt(x * x + y * y + z * z); }
    float LengthSquared() const { return x * x + y * y + z * z; }
};
inline constexpr Point3 operator*(float s, const Point3& p) { return p * s; }
inline float Length(const Point3& p) { return p.Length(); }
inline constexpr float DotProd(const Point3& a, const Point3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline constexpr Point3 CrossProd(const Point3& a, const Point3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline Point3 Normalize(const Point3& p) {
    float l = p.Length();
    return l > 0.0f ? p / l : p;
}

struct Point2 {
    float x = 0.0f, y = 0.0f;
};
struct IPoint2 {
    int x = 0, y = 0;
};
struct IPoint3 {
    int x = 0, y = 0, z = 0;
};

class Color {
public:
    float r = 0.0f, g = 0.0f, b = 0.0f;
    constexpr Color() = default;
    constexpr Color(float R, float G, float B) : r(R), g(G), b(B) {}
    explicit constexpr Color(const Point3& p) : r(p.x), g(p.y), b(p.z) {}
    constexpr bool operator==(const Color& o) const = default;
};
class AColor {
public:
    float r = 0.0f, g = 0.0f, b = 0.0f, a = 0.0f;
    constexpr AColor() = default;
    constexpr AColor(float R, float G, float B, float A = 1.0f) : r(R), g(G), b(B), a(A) {}
    constexpr bool operator==(const AColor& o) const = default;
};

// An axis-aligned box; a new box is empty (min above max).
class Box3 {
public:
    Point3 pmin{1e30f, 1e30f, 1e30f}, pmax{-1e30f, -1e30f, -1e30f};
    constexpr Box3() = default;
    constexpr Box3(const Point3& a, const Point3& b) : pmin(a), pmax(b) {}
    constexpr void Init() { *this = Box3(); }
    constexpr bool IsEmpty() const { return pmin.x > pmax.x || pmin.y > pmax.y || pmin.z > pmax.z; }
    constexpr Box3& operator+=(const Point3& p) {
        if (p.x < pmin.x) pmin.x = p.x;
        if (p.y < pmin.y) pmin.y = p.y;
        if (p.z < pmin.z) pmin.z = p.z;
        if (p.x > pmax.x) pmax.x = p.x;
        if (p.y > pmax.y) pmax.y = p.y;
        if (p.z > pmax.z) pmax.z = p.z;
        return *this;
    }
    constexpr bool Contains(const Point3& p) const {
        return p.x >= pmin.x && p.x <= pmax.x && p.y >= pmin.y && p.y <= pmax.y &&
               p.z >= pmin.z && p.z <= pmax.z;
    }
};

// A 3x4 affine matrix stored as three axis rows and a translation row; points are row vectors
// (p * M = p.x * row0 + p.y * row1 + p.z * row2 + row3).
class Matrix3 {
public:
    Point3 m[4] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
    DWORD flags = 0x1 | 0x2 | 0x4; // identity-translation, -rotation and -scale bits
    static constexpr DWORD POS_IDENT = 0x1;
    static constexpr DWORD ROT_IDENT = 0x2;
    static constexpr DWORD SCL_IDENT = 0x4;

    constexpr Matrix3() = default;
    constexpr Matrix3(const Point3& r0, const Point3& r1, const Point3& r2, const Point3& r3)
        : m{r0, r1, r2, r3}, flags(0) {}
    constexpr void IdentityMatrix() { *this = Matrix3(); }
    constexpr Point3 GetRow(int i) const { return m[i]; }
    constexpr void SetRow(int i, const Point3& p) {
        m[i] = p;
        flags = 0;
    }
    constexpr Point3 GetTrans() const { return m[3]; }
    constexpr void SetTrans(const Point3& p) {
        m[3] = p;
        flags &= ~POS_IDENT;
    }
    constexpr DWORD GetIdentFlags() const { return flags; }
    constexpr void ClearIdentFlag(DWORD f) { flags &= ~f; }
    constexpr Point3 PointTransform(const Point3& p) const {
        return {p.x * m[0].x + p.y * m[1].x + p.z * m[2].x + m[3].x,
                p.x * m[0].y + p.y * m[1].y + p.z * m[2].y + m[3].y,
                p.x * m[0].z + p.y * m[1].z + p.z * m[2].z + m[3].z};
    }
    constexpr Point3 VectorTransform(const Point3& p) const {
        return {p.x * m[0].x + p.y * m[1].x + p.z * m[2].x,
                p.x * m[0].y + p.y * m[1].y + p.z * m[2].y,
                p.x * m[0].z + p.y * m[1].z + p.z * m[2].z};
    }
    // This transform followed by b.
    constexpr Matrix3 operator*(const Matrix3& b) const {
        Matrix3 r;
        for (int i = 0; i < 3; ++i)
            r.m[i] = b.VectorTransform(m[i]);
        r.m[3] = b.PointTransform(m[3]);
        r.flags = flags & b.flags;
        return r;
    }
    constexpr bool operator==(const Matrix3& o) const {
        return m[0] == o.m[0] && m[1] == o.m[1] && m[2] == o.m[2] && m[3] == o.m[3];
    }
    void Translate(const Point3& p) { SetTrans(m[3] + p); }
    void Scale(const Point3& s) {
        for (int i = 0; i < 4; ++i)
            m[i] = {m[i].x * s.x, m[i].y * s.y, m[i].z * s.z};
        flags &= ~SCL_IDENT;
    }
    // Inverse of the affine map; a singular matrix gives the identity.
    Matrix3 Inverse() const {
        const Point3 &a = m[0], &b = m[1], &c = m[2];
        float det = a.x * (b.y * c.z - b.z * c.y) - a.y * (b.x * c.z - b.z * c.x) +
                    a.z * (b.x * c.y - b.y * c.x);
        if (det == 0.0f)
            return Matrix3();
        float id = 1.0f / det;
        Matrix3 r;
        r.m[0] = Point3((b.y * c.z - b.z * c.y), -(a.y * c.z - a.z * c.y), (a.y * b.z - a.z * b.y)) * id;
        r.m[1] = Point3(-(b.x * c.z - b.z * c.x), (a.x * c.z - a.z * c.x), -(a.x * b.z - a.z * b.x)) * id;
        r.m[2] = Point3((b.x * c.y - b.y * c.x), -(a.x * c.y - a.y * c.x), (a.x * b.y - a.y * b.x)) * id;
        r.m[3] = -r.VectorTransform(m[3]);
        r.flags = 0;
        return r;
    }
};
inline constexpr Point3 operator*(const Point3& p, const Matrix3& m) { return m.PointTransform(p); }
inline Matrix3 Inverse(const Matrix3& m) { return m.Inverse(); }
inline Matrix3 TransMatrix(const Point3& p) {
    Matrix3 r;
    r.SetTrans(p);
    return r;
}
inline Matrix3 ScaleMatrix(const Point3& s) {
    Matrix3 r;
    r.Scale(s);
    return r;
}

class Class_ID {
public:
    constexpr Class_ID() = default;
    constexpr Class_ID(ULONG a, ULONG b) : a_(a), b_(b) {}
    constexpr ULONG PartA() const { return a_; }
    constexpr ULONG PartB() const { return b_; }
    constexpr bool operator==(const Class_ID& o) const = default;
    constexpr bool operator<(const Class_ID& o) const {
        return a_ < o.a_ || (a_ == o.a_ && b_ < o.b_);
    }

private:
    ULONG a_ = 0xFFFFFFFF, b_ = 0xFFFFFFFF;
};

class Interface_ID {
public:
    constexpr Interface_ID() = default;
    constexpr Interface_ID(ULONG a, ULONG b) : a_(a), b_(b) {}
    constexpr ULONG PartA() const { return a_; }
    constexpr ULONG PartB() const { return b_; }
    constexpr bool operator==(const Interface_ID& o) const = default;

private:
    ULONG a_ = 0, b_ = 0;
};

// Super-class identifiers used by the stand-ins.
constexpr SClass_ID BASENODE_CLASS_ID = 0x1;
constexpr SClass_ID GEOMOBJECT_CLASS_ID = 0x10;
constexpr SClass_ID TEXMAP_CLASS_ID = 0xc10;
constexpr SClass_ID PARAMETER_BLOCK2_CLASS_ID = 0x82;
constexpr ULONG TRIOBJ_CLASS_ID = 9;
