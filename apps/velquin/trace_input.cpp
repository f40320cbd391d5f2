#include "apps/velquin/trace_input.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/max/texmap.h"

namespace velquin {
namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& path, const std::string& what) {
    throw TraceInputError(path + ": " + what);
}

std::string numberText(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string join(const std::string& path, const char* key) {
    return path.empty() ? std::string(key) : path + "." + key;
}

std::string index(const std::string& path, std::size_t i) {
    return path + "[" + std::to_string(i) + "]";
}

const char* typeName(const json& v) {
    switch (v.type()) {
    case json::value_t::null:
        return "null";
    case json::value_t::boolean:
        return "a boolean";
    case json::value_t::string:
        return "a string";
    case json::value_t::array:
        return "an array";
    case json::value_t::object:
        return "an object";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
        return "a number";
    default:
        return "an unusable value";
    }
}

[[noreturn]] void expected(const std::string& path, const char* what, const json& got) {
    fail(path, std::string("expected ") + what + ", got " + typeName(got));
}

std::string quotedList(std::initializer_list<const char*> names) {
    std::string s;
    for (const char* n : names) {
        if (!s.empty())
            s += ", ";
        s += '"';
        s += n;
        s += '"';
    }
    return s;
}

// Every key of an object must be one we read: a misspelt optional field would otherwise be
// dropped silently and change the result.
void checkKeys(const json& obj, const std::string& path, std::initializer_list<const char*> known,
               const char* what = "field") {
    for (const auto& item : obj.items()) {
        bool found = false;
        for (const char* k : known)
            found = found || item.key() == k;
        if (!found)
            fail(path.empty() ? std::string("input") : path, std::string("unknown ") + what +
                                                                 " \"" + item.key() + "\"; known " +
                                                                 what + "s: " + quotedList(known));
    }
}

const json& requireObject(const json& v, const std::string& path) {
    if (!v.is_object())
        expected(path, "an object", v);
    return v;
}

const json* optionalField(const json& obj, const char* key) {
    auto it = obj.find(key);
    return it == obj.end() ? nullptr : &*it;
}

const json& requiredField(const json& obj, const std::string& path, const char* key,
                          const char* what) {
    const json* v = optionalField(obj, key);
    if (!v)
        fail(path.empty() ? std::string("input") : path,
             std::string("missing field \"") + key + "\" (" + what + ")");
    return *v;
}

double readDouble(const json& v, const std::string& path) {
    if (!v.is_number())
        expected(path, "a number", v);
    double d = v.get<double>();
    if (!std::isfinite(d))
        fail(path, "expected a finite number");
    return d;
}

// Single-precision values are read as doubles and narrowed, as a float parameter is stored.
float readFloat(const json& v, const std::string& path) {
    double d = readDouble(v, path);
    float f = static_cast<float>(d);
    if (!std::isfinite(f))
        fail(path, numberText(d) + " is outside the single-precision range");
    return f;
}

std::int32_t readInt(const json& v, const std::string& path) {
    if (v.is_number_integer()) {
        // number_unsigned and number_integer both answer here.
        if (v.is_number_unsigned()) {
            auto u = v.get<std::uint64_t>();
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
                return static_cast<std::int32_t>(u);
        } else {
            auto i = v.get<std::int64_t>();
            if (i >= std::numeric_limits<std::int32_t>::min() &&
                i <= std::numeric_limits<std::int32_t>::max())
                return static_cast<std::int32_t>(i);
        }
        fail(path, "expected a 32-bit integer");
    }
    // JSON does not tell 14 from 14.0; a written-out integral value is accepted.
    if (v.is_number_float()) {
        double d = v.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && d >= -2147483648.0 && d <= 2147483647.0)
            return static_cast<std::int32_t>(d);
    }
    expected(path, "an integer", v);
}

bool readBool(const json& v, const std::string& path) {
    if (v.is_boolean())
        return v.get<bool>();
    if (v.is_number_integer()) {
        if (v == 0)
            return false;
        if (v == 1)
            return true;
    }
    expected(path, "true, false, 0 or 1", v);
}

void readDouble3(const json& v, const std::string& path, double out[3]) {
    if (!v.is_array() || v.size() != 3)
        fail(path, "expected an array of 3 numbers");
    for (std::size_t i = 0; i < 3; ++i)
        out[i] = readDouble(v[i], index(path, i));
}

void readFloat3(const json& v, const std::string& path, float out[3]) {
    if (!v.is_array() || v.size() != 3)
        fail(path, "expected an array of 3 numbers");
    for (std::size_t i = 0; i < 3; ++i)
        out[i] = readFloat(v[i], index(path, i));
}

const json& requireArray(const json& v, const std::string& path, const char* of) {
    if (!v.is_array())
        expected(path, of, v);
    return v;
}

// An array of [x, y, z] points or colours, appended as floats; returns the entry count.
std::int32_t readFloat3List(const json& v, const std::string& path, std::vector<float>& out) {
    requireArray(v, path, "an array of [x, y, z] arrays");
    if (v.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        fail(path, "too many entries");
    out.resize(v.size() * 3);
    for (std::size_t i = 0; i < v.size(); ++i)
        readFloat3(v[i], index(path, i), &out[i * 3]);
    return static_cast<std::int32_t>(v.size());
}

void readDoubleList(const json& v, const std::string& path, std::vector<double>& out) {
    requireArray(v, path, "an array of numbers");
    out.resize(v.size());
    for (std::size_t i = 0; i < v.size(); ++i)
        out[i] = readDouble(v[i], index(path, i));
}

void checkSameLength(std::size_t n, const std::string& path, std::size_t m,
                     const std::string& otherPath) {
    if (n != m)
        fail(path, "has " + std::to_string(n) + " entries but " + otherPath + " has " +
                       std::to_string(m));
}

// --- parameters -----------------------------------------------------------------------------

enum class ParamKind { Float, Int, Bool, Texmap };

struct ParamInfo {
    const char* name;
    ParamKind kind;
    double low; // inclusive range; floats are compared after narrowing
    double high;
};

// The names and ranges of the parameter block for the parameters a trace reads.
constexpr ParamInfo kParams[] = {
    {"radius", ParamKind::Float, 0.0001, 1000000.0},
    {"threshold", ParamKind::Float, 0.0001, 1000000.0},
    {"step", ParamKind::Float, 0.0001, 1000000.0},
    {"error", ParamKind::Float, 0.00001, 1000000.0},
    {"fieldFunction", ParamKind::Int, 0, 6},
    {"color", ParamKind::Int, 0, 8},
    {"useAverage", ParamKind::Bool, 0, 1},
    {"cutoff", ParamKind::Float, 0.0001, 1000000.0},
    {"trim", ParamKind::Float, 0.0001, 1000000.0},
    {"depth", ParamKind::Int, 1, 50},
    {"leafLength", ParamKind::Float, 0.0001, 1000000.0},
    {"leafSize", ParamKind::Int, 1, 10000},
    {"useTexture", ParamKind::Bool, 0, 1},
    {"texmap", ParamKind::Texmap, 0, 0},
    {"textureType", ParamKind::Int, 0, 1},
    {"textureStr", ParamKind::Float, 0.0, 1000000.0},
    {"useClamp", ParamKind::Bool, 0, 1},
    {"clampTo", ParamKind::Float, 0.0001, 1000000.0},
};

std::string knownParamList() {
    std::string s;
    for (const ParamInfo& p : kParams) {
        if (!s.empty())
            s += ", ";
        s += '"';
        s += p.name;
        s += '"';
    }
    return s;
}

std::string rangeText(const ParamInfo& p) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "expected a value from %g to %g", p.low, p.high);
    return buf;
}

float readFloatParam(const json& v, const std::string& path, const ParamInfo& p) {
    float f = readFloat(v, path);
    // The block's limits are float values themselves (0.0001 means 9.99999975e-05).
    if (f < static_cast<float>(p.low) || f > static_cast<float>(p.high))
        fail(path, numberText(f) + " is out of range; " + rangeText(p));
    return f;
}

std::int32_t readIntParam(const json& v, const std::string& path, const ParamInfo& p) {
    std::int32_t i = readInt(v, path);
    // The list-index parameters select kernels from fixed tables: an index past the list
    // would select nothing.
    if (i < p.low || i > p.high)
        fail(path, std::to_string(i) + " is out of range; " + rangeText(p));
    return i;
}

// The map's own fields are checked by the built-in map factory (names, ranges, defaults); here
// only that each is a number a float can hold.
void readTexmap(const json& v, const std::string& path, TraceInput& in) {
    in.texmapDesc = TexmapDesc{};
    in.texmap.reset();
    if (v.is_null())
        return;
    requireObject(v, path);
    const char* types = "\"constant\", \"gradient\", \"noise\" or \"checker\"";
    const json& type = requiredField(v, path, "type", types);
    if (!type.is_string())
        expected(join(path, "type"), types, type);
    TexmapDesc d;
    d.type = type.get<std::string>();
    for (const auto& item : v.items()) {
        if (item.key() == "type")
            continue;
        const std::string at = join(path, item.key().c_str());
        readFloat(item.value(), at);
        d.fields[item.key()] = item.value().get<double>();
    }
    std::string error;
    Texmap* map = CreateTexmap(d.type, TexmapParams(d.fields.begin(), d.fields.end()), &error);
    if (!map)
        fail(path, error.empty() ? std::string("cannot make this map") : error);
    in.texmap = std::shared_ptr<Texmap>(map, [](Texmap* m) { m->DeleteThis(); });
    in.texmapDesc = std::move(d);
}

void readParams(const json& v, TraceInput& in) {
    const std::string path = "params";
    requireObject(v, path);
    MetaballRenderParams& p = in.params;
    for (const auto& item : v.items()) {
        const ParamInfo* info = nullptr;
        for (const ParamInfo& candidate : kParams)
            if (item.key() == candidate.name)
                info = &candidate;
        if (!info)
            fail(path,
                 "unknown parameter \"" + item.key() + "\"; known parameters: " + knownParamList());
        const std::string name = item.key();
        const std::string at = join(path, info->name);
        const json& value = item.value();
        switch (info->kind) {
        case ParamKind::Float: {
            float f = readFloatParam(value, at, *info);
            if (name == "radius")
                p.radius = f;
            else if (name == "threshold")
                p.threshold = f;
            else if (name == "step")
                p.step = f;
            else if (name == "error")
                p.error = f;
            else if (name == "cutoff")
                p.cutoff = f;
            else if (name == "trim")
                p.trim = f;
            else if (name == "leafLength")
                p.leafLength = f;
            else if (name == "textureStr")
                in.textureStr = p.textureStrength = f;
            else if (name == "clampTo")
                p.clampTo = f;
            break;
        }
        case ParamKind::Int: {
            std::int32_t i = readIntParam(value, at, *info);
            if (name == "fieldFunction")
                p.fieldFunction = i;
            else if (name == "color")
                in.color = p.colourKernel = i;
            else if (name == "depth")
                p.depth = i;
            else if (name == "leafSize") // an integer parameter carried as a float
                p.leafSize = static_cast<float>(i);
            else if (name == "textureType")
                p.textureType = i != 0 ? 1 : 0;
            break;
        }
        case ParamKind::Bool: {
            bool b = readBool(value, at);
            if (name == "useAverage")
                p.useAverage = b ? 1 : 0;
            else if (name == "useTexture")
                in.useTexture = b;
            else if (name == "useClamp")
                p.useClamp = b ? 1 : 0;
            break;
        }
        case ParamKind::Texmap:
            readTexmap(value, at, in);
            break;
        }
    }
}

// --- frame and segments ---------------------------------------------------------------------

void readStillFrame(const json& v, TraceInput& in) {
    const std::string path = "frame";
    requireObject(v, path);
    checkKeys(v, path, {"positions", "sizes", "colors"});
    const std::string posPath = join(path, "positions");
    in.count = readFloat3List(requiredField(v, path, "positions", "an array of [x, y, z] arrays"),
                              posPath, in.positions);
    if (const json* sizes = optionalField(v, "sizes")) {
        const std::string at = join(path, "sizes");
        in.hasSizes = true;
        readDoubleList(*sizes, at, in.sizes);
        checkSameLength(in.sizes.size(), at, static_cast<std::size_t>(in.count), posPath);
    }
    if (const json* colors = optionalField(v, "colors")) {
        const std::string at = join(path, "colors");
        std::int32_t n = readFloat3List(*colors, at, in.colors);
        checkSameLength(static_cast<std::size_t>(n), at, static_cast<std::size_t>(in.count),
                        posPath);
    }
}

void readSegments(const json& v, TraceInput& in) {
    const std::string path = "segments";
    requireArray(v, path, "an array of motion segments");
    if (v.empty())
        fail(path, "expected at least one motion segment");
    if (v.size() > 1000000)
        fail(path, "too many motion segments");
    in.segments.resize(v.size());
    for (std::size_t s = 0; s < v.size(); ++s) {
        const std::string at = index(path, s);
        const json& seg = requireObject(v[s], at);
        checkKeys(seg, at, {"positions", "displacements", "sizes", "sizeDeltas"});
        TraceSegment& out = in.segments[s];
        const std::string posPath = join(at, "positions");
        out.count =
            readFloat3List(requiredField(seg, at, "positions", "an array of [x, y, z] arrays"),
                           posPath, out.positions);
        const std::string dispPath = join(at, "displacements");
        std::int32_t nd =
            readFloat3List(requiredField(seg, at, "displacements", "an array of [x, y, z] arrays"),
                           dispPath, out.displacements);
        checkSameLength(static_cast<std::size_t>(nd), dispPath, static_cast<std::size_t>(out.count),
                        posPath);
        const json* sizes = optionalField(seg, "sizes");
        const json* deltas = optionalField(seg, "sizeDeltas");
        // Sizes belong to the whole frame (one switch decides them), so every segment has them
        // or none does.
        out.hasSizes = sizes != nullptr;
        if (s > 0 && out.hasSizes != in.segments[0].hasSizes)
            fail(join(at, "sizes"), sizes ? "given, but segments[0] has no sizes; give sizes in "
                                            "every segment or in none"
                                          : "missing, but segments[0] has sizes; give sizes in "
                                            "every segment or in none");
        if (deltas && !sizes)
            fail(join(at, "sizeDeltas"), "given without \"sizes\"");
        if (sizes) {
            const std::string sizePath = join(at, "sizes");
            readDoubleList(*sizes, sizePath, out.sizes);
            checkSameLength(out.sizes.size(), sizePath, static_cast<std::size_t>(out.count),
                            posPath);
            if (deltas) {
                const std::string deltaPath = join(at, "sizeDeltas");
                readDoubleList(*deltas, deltaPath, out.sizeDeltas);
                checkSameLength(out.sizeDeltas.size(), deltaPath,
                                static_cast<std::size_t>(out.count), posPath);
            } else {
                // Sizes that do not change over the segment.
                out.sizeDeltas.assign(out.sizes.size(), 0.0);
            }
        }
    }
}

void readRays(const json& v, TraceInput& in) {
    const std::string path = "rays";
    requireArray(v, path, "an array of rays");
    in.rays.resize(v.size());
    for (std::size_t r = 0; r < v.size(); ++r) {
        const std::string at = index(path, r);
        const json& ray = requireObject(v[r], at);
        checkKeys(ray, at, {"origin", "direction", "tmin", "tmax", "time", "nearest"});
        TraceRay& out = in.rays[r];
        readDouble3(requiredField(ray, at, "origin", "an array of 3 numbers"), join(at, "origin"),
                    out.origin);
        const std::string dirPath = join(at, "direction");
        readFloat3(requiredField(ray, at, "direction", "an array of 3 numbers"), dirPath,
                   out.direction);
        // A zero direction has no crossing distance; marching along it would never end.
        if (out.direction[0] == 0.0f && out.direction[1] == 0.0f && out.direction[2] == 0.0f)
            fail(dirPath, "expected a non-zero direction");
        out.tmin = readDouble(requiredField(ray, at, "tmin", "a number"), join(at, "tmin"));
        out.tmax = readDouble(requiredField(ray, at, "tmax", "a number"), join(at, "tmax"));
        // The ray's time is passed on as given: the primitive decides what a time outside
        // [0, 1] means.
        if (const json* time = optionalField(ray, "time"))
            out.time = readFloat(*time, join(at, "time"));
        out.nearest = out.tmax;
        if (const json* nearest = optionalField(ray, "nearest"))
            out.nearest = readDouble(*nearest, join(at, "nearest"));
    }
}

std::string malformed(const std::string& what) {
    // nlohmann's messages start with "[json.exception.parse_error.101] "; the rest (line,
    // column and what was found) is kept.
    std::string text = what;
    if (!text.empty() && text[0] == '[') {
        std::size_t close = text.find("] ");
        if (close != std::string::npos)
            text.erase(0, close + 2);
    }
    return "malformed JSON: " + text;
}

template <class T> struct ArrayDeleter {
    void operator()(T* p) const { delete[] p; }
};
template <class T> using Owned = std::unique_ptr<T[], ArrayDeleter<T>>;

template <class T> Owned<T> copyArray(const std::vector<T>& v) {
    Owned<T> a(new T[v.size()]);
    for (std::size_t i = 0; i < v.size(); ++i)
        a[i] = v[i];
    return a;
}

} // namespace

TraceInput parseTraceInput(std::string_view text) {
    json root;
    try {
        root = json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        throw TraceInputError(malformed(e.what()));
    }
    if (!root.is_object())
        expected("input", "a JSON object", root);
    checkKeys(root, "", {"params", "frame", "segments", "colors", "rays"});

    TraceInput in;
    // Start from the parameter block's defaults: "color" 0 ("None") and "useTexture" on.
    in.params = MetaballRenderParams{};
    in.params.colourKernel = in.color;
    in.params.textureStrength = in.textureStr;
    if (const json* params = optionalField(root, "params"))
        readParams(*params, in);

    const json* frame = optionalField(root, "frame");
    const json* segments = optionalField(root, "segments");
    if (frame && segments)
        fail("input", "has both \"frame\" and \"segments\"; expected one of them");
    if (!frame && !segments)
        fail("input", "missing field \"frame\" (a still frame) or \"segments\" (motion segments)");
    const json* colors = optionalField(root, "colors");
    if (frame) {
        if (colors)
            fail("colors", "a still frame's colours go in frame.colors");
        readStillFrame(*frame, in);
    } else {
        in.moving = true;
        readSegments(*segments, in);
        in.params.segmentCount = static_cast<std::int32_t>(in.segments.size());
        if (colors) {
            std::int32_t n = readFloat3List(*colors, "colors", in.colors);
            checkSameLength(static_cast<std::size_t>(n), "colors",
                            static_cast<std::size_t>(in.segments[0].count),
                            "segments[0].positions");
        }
    }
    // A colour kernel with nothing to weigh would make up colours; ask for them instead.
    if (in.color != 0 && in.colors.empty() && (in.moving ? in.segments[0].count : in.count) > 0)
        fail(in.moving ? std::string("colors") : std::string("frame.colors"),
             "missing; params.color " + std::to_string(in.color) +
                 " asks for per-metaball colours");

    readRays(requiredField(root, "", "rays", "an array of rays"), in);
    return in;
}

MetaballRenderParams compileParams(const TraceInput& in) {
    MetaballRenderParams p = in.params;
    // Colour selector: "Same as the surface" (1) takes the surface kernel; any other entry is a
    // kernel index shifted by the two entries before the kernels, so "None" (0) gives -2.
    p.colourKernel = in.color == 1 ? p.fieldFunction : in.color - 2;
    // The map takes part only when switched on and strong enough to matter; 0.0001f itself
    // leaves it out.
    p.textureStrength = in.textureStr;
    p.texmap = nullptr;
    if (in.useTexture && in.textureStr > 0.0001f && in.texmap) {
        p.texmap = in.texmap.get();
        p.texmap->Update(0);
    }
    // The clamp must lie above the threshold; when it does not it is raised just above it,
    // the sum taken in single precision.
    if (p.clampTo <= p.threshold)
        p.clampTo = p.threshold + 0.001f;
    // leafSize already arrives as a float (readParams) and segmentCount is the number of
    // segments for motion input, 0 for a still frame.
    p.segmentCount = in.moving ? static_cast<std::int32_t>(in.segments.size()) : 0;
    return p;
}

bool frameHasColors(const TraceInput& in) {
    return in.color != 0 && !in.colors.empty();
}

CompiledFrame makeCompiledFrame(const TraceInput& in) {
    CompiledFrame f;
    f.params = compileParams(in);
    Owned<float> positions = copyArray(in.positions);
    Owned<double> sizes;
    if (in.hasSizes)
        sizes = copyArray(in.sizes);
    Owned<float> colors;
    if (frameHasColors(in))
        colors = copyArray(in.colors);
    f.count = in.count;
    f.positions = positions.release();
    f.sizes = sizes.release();
    f.colors = colors.release();
    return f;
}

CompiledMovingFrame makeCompiledMovingFrame(const TraceInput& in) {
    const std::size_t n = in.segments.size();
    // Built inside an owner so that a failed allocation half way leaves nothing behind.
    struct Partial {
        CompiledMovingFrame f;
        ~Partial() { freeCompiledFrame(f); }
    } part;
    CompiledMovingFrame& f = part.f;
    f.params = compileParams(in); // segmentCount first: freeing walks 2 x segmentCount arrays
    f.segmentCounts = new std::int32_t[n];
    f.segmentPositions = new float*[2 * n]();
    f.segmentSizes = new double*[2 * n]();
    for (std::size_t s = 0; s < n; ++s) {
        const TraceSegment& seg = in.segments[s];
        f.segmentCounts[s] = seg.count;
        f.segmentPositions[2 * s] = copyArray(seg.positions).release();
        f.segmentPositions[2 * s + 1] = copyArray(seg.displacements).release();
        if (seg.hasSizes) {
            f.segmentSizes[2 * s] = copyArray(seg.sizes).release();
            f.segmentSizes[2 * s + 1] = copyArray(seg.sizeDeltas).release();
        }
    }
    if (frameHasColors(in))
        f.colors = copyArray(in.colors).release();
    CompiledMovingFrame done = f;
    f = CompiledMovingFrame{};
    return done;
}

void freeCompiledFrame(CompiledFrame& f) {
    delete[] f.positions;
    delete[] f.sizes;
    delete[] f.colors;
    f.positions = nullptr;
    f.sizes = nullptr;
    f.colors = nullptr;
}

void freeCompiledFrame(CompiledMovingFrame& f) {
    const std::int32_t n = f.params.segmentCount;
    for (std::int32_t i = 0; i < 2 * n; ++i) {
        if (f.segmentPositions)
            delete[] f.segmentPositions[i];
        if (f.segmentSizes)
            delete[] f.segmentSizes[i];
    }
    delete[] f.segmentPositions;
    delete[] f.segmentSizes;
    delete[] f.segmentCounts;
    delete[] f.colors;
    f.segmentPositions = nullptr;
    f.segmentSizes = nullptr;
    f.segmentCounts = nullptr;
    f.colors = nullptr;
}

} // namespace velquin
