#include "renderer/SceneLoader.h"

#include "platform/max/classdesc.h"
#include "platform/max/fp.h"
#include "platform/max/hold.h"
#include "platform/max/iparamb2.h"
#include "platform/max/object.h"
#include "platform/max/particles.h"
#include "platform/max/texmap.h"
#include "renderer/Errors.h"
#include "renderer/FileFormats.h"
#include "renderer/PointFile.h"
#include "renderer/TextInput.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace velquin::renderer {

RenderScene::RenderScene() : scene(std::make_unique<Scene>()) {
    materials.push_back(Material{"default"});
}

RenderScene::~RenderScene() {
    // The plug-in objects let go of their references first: a node deleted while an object's
    // list still names it makes the object find and drop that entry, one walk over the list
    // per node. The objects and maps go after.
    for (const RenderNode& rn : nodes)
        if (rn.kind == NodeKind::Plugin && rn.node)
            if (Object* o = rn.node->GetObjectRef())
                o->DeleteAllRefs();
    nodes.clear();
    scene.reset();
    for (Texmap* m : texmaps)
        m->DeleteThis();
}

namespace {

// The age, in frames, of a particle that gives none: old enough to exist throughout a shutter
// around frame 0.
constexpr float kUnknownAge = 10.0f;

// Limits that keep the renderer's arithmetic finite. Rays start within kFarthest of the origin
// and reach up to 1e18 from there, which the ray server takes; colours and intensities are
// bounded so that their products over every bounce stay finite.
constexpr double kFarthest = 1e15;
constexpr double kMaxColor = 1000.0;
constexpr double kMaxIntensity = 1e6;
constexpr double kMaxRayBias = 1e6;
constexpr int kMaxSpp = 65536;

using json = nlohmann::json;

std::string typeName(const json& j) {
    switch (j.type()) {
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
    default:
        return "a number";
    }
}

// Published functions through which a node-list parameter is filled, by parameter name. A class
// that publishes none of these has its lists filled by appending to the parameter directly.
const std::map<std::string, std::string> kNodeListAdders = {
    {"nodes", "addMetaball"},
    {"pflow", "addPFMetaball"},
};

// The importer crashes on some malformed PLY headers (a list property of an unknown type before
// a missing end_header reads past the file), so a PLY mesh's header is checked here first: the
// format, every element with a count, every property with a known type, and the end_header
// line. Answers what is wrong, or "" for a sound header.
std::string plyHeaderProblem(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!std::getline(in, line) || (line != "ply" && line != "ply\r"))
        return "it does not start with \"ply\"";
    auto known = [](const std::string& t) {
        static const std::set<std::string> types = {
            "char", "uchar", "short", "ushort", "int",   "uint",   "float",   "double",
            "int8", "uint8", "int16", "uint16", "int32", "uint32", "float32", "float64"};
        return types.count(t) > 0;
    };
    bool format = false, element = false;
    // Every property of every record takes a byte at least, in text or binary: a count the
    // rest of the file cannot hold is refused before the importer allocates for it.
    struct Claim {
        std::string name;
        long long count = 0, properties = 0;
    };
    std::vector<Claim> claims;
    for (int n = 2; n < 10000 && std::getline(in, line); ++n) {
        std::istringstream ss(line);
        std::string kw, a, b, c, d;
        ss >> kw;
        const std::string at = "header line " + std::to_string(n) + ": ";
        if (kw == "end_header") {
            if (!format)
                return "the header has no format line";
            std::error_code ec;
            const auto size = static_cast<long double>(std::filesystem::file_size(path, ec));
            const auto rest = size - static_cast<long double>(in.tellg());
            long double needed = 0;
            for (const Claim& e : claims) {
                needed += static_cast<long double>(e.count) * e.properties;
                if (!ec && needed > rest)
                    return "the header claims " + std::to_string(e.count) + " " + e.name +
                           " records, more than the " +
                           std::to_string(static_cast<long long>(rest)) +
                           " bytes after it can hold";
            }
            return "";
        }
        if (kw.empty() || kw == "comment" || kw == "obj_info")
            continue;
        if (kw == "format") {
            ss >> a >> b;
            if (a != "ascii" && a != "binary_little_endian" && a != "binary_big_endian")
                return at + "unknown format \"" + a + "\"";
            format = true;
        } else if (kw == "element") {
            long long count = -1;
            ss >> a >> count;
            if (!ss || count < 0)
                return at + "expected \"element NAME COUNT\"";
            element = true;
            claims.push_back({a, count, 0});
        } else if (kw == "property") {
            ss >> a >> b;
            if (a == "list")
                ss >> c >> d;
            if (!element || !ss || !known(a == "list" ? c : a) || (a == "list" && !known(b)))
                return at + "expected a property of a known type after an element";
            ++claims.back().properties;
        } else {
            return at + "unexpected \"" + kw + "\"";
        }
    }
    return "the header has no end_header line";
}

// The importer trusts the lengths in a binary glTF's header and chunk headers and allocates
// gigabytes for a short file that claims them, so they are checked against the file first.
std::string glbHeaderProblem(const std::string& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    unsigned char h[20] = {};
    if (ec || !in.read(reinterpret_cast<char*>(h), sizeof h))
        return "too short for a binary glTF file";
    auto u32 = [&](int at) {
        return static_cast<std::uintmax_t>(h[at]) | static_cast<std::uintmax_t>(h[at + 1]) << 8 |
               static_cast<std::uintmax_t>(h[at + 2]) << 16 |
               static_cast<std::uintmax_t>(h[at + 3]) << 24;
    };
    if (std::memcmp(h, "glTF", 4) != 0 || u32(4) != 2)
        return "not a binary glTF 2 file";
    if (u32(8) != size)
        return "the header gives a length of " + std::to_string(u32(8)) + " bytes for a file of " +
               std::to_string(size);
    if (std::memcmp(h + 16, "JSON", 4) != 0 || 20 + u32(12) > size)
        return "the first chunk is no JSON chunk inside the file";
    std::uintmax_t at = 20 + u32(12);
    if (at + 8 <= size) {
        in.seekg(static_cast<std::streamoff>(at));
        if (!in.read(reinterpret_cast<char*>(h), 8) || at + 8 + u32(0) > size)
            return "the second chunk does not fit in the file";
    }
    return "";
}

class Loader {
public:
    Loader(const std::string& source, const std::string& baseDir, const std::atomic<bool>* stop)
        : source_(source), baseDir_(baseDir), stop_(stop) {}

    std::unique_ptr<RenderScene> load(const std::string& text) {
        json root;
        try {
            root = json::parse(text);
        } catch (const json::exception& e) {
            // Out-of-range numbers (1e400) come as out_of_range, not parse_error: both are the
            // file's fault. The library's "[json.exception...] " tag means nothing to a user.
            std::string what = e.what();
            if (!what.empty() && what[0] == '[' && what.find("] ") != std::string::npos)
                what.erase(0, what.find("] ") + 2);
            throw BadInput(source_ + ": not valid JSON: " + what);
        }
        if (!root.is_object())
            fail("$", "expected an object at the top of the scene, got " + typeName(root));
        out_ = std::make_unique<RenderScene>();
        out_->source = source_;
        // Building a scene from a file is not an edit to undo: the objects' own undo records
        // (a copy of a whole list per node added) would make loading and tearing down quadratic.
        struct NoUndo {
            NoUndo() { theHold.Suspend(); }
            ~NoUndo() { theHold.Resume(); }
        } noUndo;
        checkKeys(root, "$",
                  {"render", "camera", "background", "lights", "materials", "textures", "nodes"});
        if (root.contains("render"))
            loadRender(root["render"], "render");
        if (root.contains("camera"))
            loadCamera(root["camera"], "camera");
        if (root.contains("background"))
            loadBackground(root["background"], "background");
        if (root.contains("lights"))
            loadLights(root["lights"], "lights");
        else
            defaultLights();
        if (root.contains("materials"))
            loadMaterials(root["materials"], "materials");
        if (root.contains("textures"))
            loadTextures(root["textures"], "textures");
        if (root.contains("nodes"))
            loadNodes(root["nodes"], "nodes");
        return std::move(out_);
    }

private:
    std::string source_, baseDir_;
    const std::atomic<bool>* stop_ = nullptr;
    std::unique_ptr<RenderScene> out_;
    std::map<std::string, int> materialIndex_;
    std::map<std::string, Texmap*> textures_;

    [[noreturn]] void fail(const std::string& path, const std::string& what) const {
        throw BadInput(printable(source_ + ": " + path + ": " + what));
    }

    // Called between nodes and between the entries of long lists: a stop asked for while a big
    // scene loads is honoured within moments.
    void checkStop() const {
        if (stop_ && stop_->load(std::memory_order_relaxed))
            throw Interrupted("loading the scene " + printable(source_));
    }

    // The nodes by name, as the scene's own lookup (a walk over every node) would find them.
    std::unordered_map<std::string, INode*> byName_;
    INode* findNode(const std::string& name) const {
        auto it = byName_.find(name);
        return it == byName_.end() ? nullptr : it->second;
    }
    INode* named(INode* node) {
        if (node)
            byName_.emplace(node->GetName(), node);
        return node;
    }

    // Where a scene names an input file, so that the output can be checked against it.
    void readsFile(const std::string& path) { out_->inputFiles.push_back(path); }

    void checkKeys(const json& j, const std::string& path,
                   std::initializer_list<const char*> keys) {
        for (auto it = j.begin(); it != j.end(); ++it) {
            bool ok = false;
            for (const char* k : keys)
                ok = ok || it.key() == k;
            if (!ok) {
                std::string list;
                for (const char* k : keys)
                    list += std::string(list.empty() ? "" : ", ") + "\"" + k + "\"";
                fail(path, "unknown key \"" + it.key() + "\" (expected one of " + list + ")");
            }
        }
    }

    const json& object(const json& j, const std::string& path) {
        if (!j.is_object())
            fail(path, "expected an object, got " + typeName(j));
        return j;
    }
    const json& array(const json& j, const std::string& path) {
        if (!j.is_array())
            fail(path, "expected an array, got " + typeName(j));
        return j;
    }
    double number(const json& j, const std::string& path) {
        if (!j.is_number())
            fail(path, "expected a number, got " + typeName(j));
        double v = j.get<double>();
        if (!std::isfinite(v))
            fail(path, "expected a finite number");
        return v;
    }
    // Values are kept in single precision: one beyond its range would become infinite.
    float numberF(const json& j, const std::string& path) {
        double v = number(j, path);
        if (std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max()))
            fail(path, "expected a number within +-3.4e+38 (single precision), got " + j.dump());
        return static_cast<float>(v);
    }
    [[noreturn]] void outside(const std::string& path, const json& j, double low, double high,
                              const std::string& what) {
        char range[96];
        std::snprintf(range, sizeof range, "%g to %g", low, high);
        fail(path, "expected " + what + " from " + range + ", got " + j.dump());
    }
    float numberIn(const json& j, const std::string& path, double low, double high,
                   const std::string& what) {
        float v = numberF(j, path);
        if (!(v >= low && v <= high))
            outside(path, j, low, high, what);
        return v;
    }
    float above0(const json& j, const std::string& path, const std::string& what) {
        float v = numberF(j, path);
        if (!(v > 0.0f))
            fail(path, "expected " + what + " above 0, got " + j.dump());
        return v;
    }
    int integer(const json& j, const std::string& path) {
        double v = number(j, path);
        if (v != std::floor(v) || v < -2147483648.0 || v > 2147483647.0)
            fail(path, "expected a whole number, got " + j.dump());
        return static_cast<int>(v);
    }
    int positive(const json& j, const std::string& path) {
        int v = integer(j, path);
        if (v < 1)
            fail(path, "expected a whole number of at least 1, got " + j.dump());
        return v;
    }
    // Frames become ticks (TimeValue, an int): key times, and the spans between them that
    // interpolation divides by, must stay within its range.
    double frameNumber(const json& j, const std::string& path) {
        double f = number(j, path);
        if (f < -1000000.0 || f > 1000000.0)
            fail(path, "expected a frame number from -1000000 to 1000000, got " + j.dump());
        return f;
    }
    int frameInt(const json& j, const std::string& path) {
        frameNumber(j, path);
        return integer(j, path);
    }
    bool boolean(const json& j, const std::string& path) {
        if (!j.is_boolean())
            fail(path, "expected true or false, got " + typeName(j));
        return j.get<bool>();
    }
    std::string string(const json& j, const std::string& path) {
        if (!j.is_string())
            fail(path, "expected a string, got " + typeName(j));
        return j.get<std::string>();
    }
    Point3 vec3(const json& j, const std::string& path) {
        if (!j.is_array() || j.size() != 3)
            fail(path,
                 "expected an array of three numbers, got " +
                     (j.is_array() ? "an array of " + std::to_string(j.size()) : typeName(j)));
        return Point3(numberF(j[0], path + "[0]"), numberF(j[1], path + "[1]"),
                      numberF(j[2], path + "[2]"));
    }
    Color color(const json& j, const std::string& path) {
        Point3 p = vec3(j, path);
        for (int k = 0; k < 3; ++k)
            if (!(p[k] >= 0.0f && p[k] <= kMaxColor))
                outside(path + "[" + std::to_string(k) + "]", j[k], 0.0, kMaxColor,
                        "a colour component");
        return Color(p.x, p.y, p.z);
    }
    // A point the camera may stand at or look at.
    Point3 place(const json& j, const std::string& path) {
        Point3 p = vec3(j, path);
        for (int k = 0; k < 3; ++k)
            if (!(std::fabs(p[k]) <= kFarthest))
                outside(path + "[" + std::to_string(k) + "]", j[k], -kFarthest, kFarthest,
                        "a coordinate");
        return p;
    }
    std::string file(const json& j, const std::string& path) {
        std::string f = string(j, path);
        std::filesystem::path p(f);
        if (p.is_relative() && !baseDir_.empty())
            p = std::filesystem::path(baseDir_) / p;
        // A scene may name any path: a folder, a device such as /dev/zero or a pipe would make
        // the reader fail late, read without end or wait for ever. A missing file is left to
        // the reader, whose message says why it cannot be opened.
        std::error_code ec;
        auto st = std::filesystem::status(p, ec);
        if (std::filesystem::exists(st) && !std::filesystem::is_regular_file(st))
            fail(path, "\"" + p.string() + "\" is not a regular file");
        readsFile(p.string());
        return p.string();
    }
    // A value that is constant or keyed: [{"frame": f, "value": v}, ...].
    template <class T, class F>
    AnimValue<T> animated(const json& j, const std::string& path, F read) {
        AnimValue<T> a;
        if (j.is_array() && !j.empty() && j[0].is_object()) {
            std::vector<typename AnimValue<T>::Key> keys;
            for (std::size_t i = 0; i < j.size(); ++i) {
                std::string kp = path + "[" + std::to_string(i) + "]";
                const json& k = object(j[i], kp);
                checkKeys(k, kp, {"frame", "value"});
                if (!k.contains("frame") || !k.contains("value"))
                    fail(kp, "expected a key {\"frame\": number, \"value\": ...}");
                float f = static_cast<float>(frameNumber(k["frame"], kp + ".frame"));
                keys.push_back({static_cast<TimeValue>(std::lround(f * TicksPerFrame)),
                                read(k["value"], kp + ".value")});
            }
            a.SetKeys(std::move(keys));
        } else {
            a.SetConstant(read(j, path));
        }
        return a;
    }
    AnimValue<float> animFloat(const json& j, const std::string& path) {
        return animated<float>(
            j, path, [this](const json& v, const std::string& p) { return numberF(v, p); });
    }
    // A length of a procedural object, every key of it above 0 (or, with `zero`, at least 0).
    AnimValue<float> animSize(const json& j, const std::string& path, const char* what,
                              bool zero = false) {
        return animated<float>(j, path, [&](const json& v, const std::string& p) {
            float f = numberF(v, p);
            if (!(zero ? f >= 0.0f : f > 0.0f))
                fail(p, std::string("expected ") + what + (zero ? " of at least 0" : " above 0") +
                            ", got " + v.dump());
            return f;
        });
    }
    // Segments of a procedural mesh. The mesh's vertex and face counts are ints: past about
    // 46000 segments they overflow; 10000 segments already make a plane of 10^8 vertices.
    AnimValue<int> animSegments(const json& j, const std::string& path) {
        return animated<int>(j, path, [this](const json& v, const std::string& p) {
            int n = integer(v, p);
            if (n < 1 || n > 10000)
                fail(p, "expected a whole number of segments from 1 to 10000, got " + v.dump());
            return n;
        });
    }
    AnimValue<Point3> animVec(const json& j, const std::string& path) {
        return animated<Point3>(j, path,
                                [this](const json& v, const std::string& p) { return vec3(v, p); });
    }

    // ---- sections ----

    void loadRender(const json& j, const std::string& path) {
        object(j, path);
        checkKeys(j, path,
                  {"width", "height", "spp", "frame", "frames", "motionBlur", "shutter", "maxDepth",
                   "rayBias", "transparentBackground"});
        RenderSettings& s = out_->settings;
        if (j.contains("width"))
            s.width = positive(j["width"], path + ".width");
        if (j.contains("height"))
            s.height = positive(j["height"], path + ".height");
        if (j.contains("spp")) {
            s.spp = positive(j["spp"], path + ".spp");
            if (s.spp > kMaxSpp)
                fail(path + ".spp", "expected a whole number from 1 to " + std::to_string(kMaxSpp) +
                                        ", got " + j["spp"].dump());
        }
        if (j.contains("frame")) {
            s.frameStart = s.frameEnd = frameInt(j["frame"], path + ".frame");
            s.frameStep = 1;
        }
        if (j.contains("frames")) {
            const json& f = j["frames"];
            std::string fp = path + ".frames";
            if (!f.is_array() || f.size() < 2 || f.size() > 3)
                fail(fp, "expected [first, last] or [first, last, step]");
            s.frameStart = frameInt(f[0], fp + "[0]");
            s.frameEnd = frameInt(f[1], fp + "[1]");
            s.frameStep = f.size() == 3 ? positive(f[2], fp + "[2]") : 1;
            if (s.frameEnd < s.frameStart)
                fail(fp, "the last frame comes before the first");
            s.frameRange = true;
        }
        if (j.contains("motionBlur"))
            s.motionBlur = boolean(j["motionBlur"], path + ".motionBlur");
        if (j.contains("shutter")) {
            s.shutter = numberF(j["shutter"], path + ".shutter");
            if (s.shutter < 0.0f || s.shutter > 1.0f)
                fail(path + ".shutter", "expected a fraction of a frame between 0 and 1");
        }
        if (j.contains("maxDepth")) {
            s.maxDepth = integer(j["maxDepth"], path + ".maxDepth");
            if (s.maxDepth < 0 || s.maxDepth > 64)
                fail(path + ".maxDepth", "expected a whole number from 0 to 64");
        }
        if (j.contains("rayBias"))
            s.rayBias = numberIn(j["rayBias"], path + ".rayBias", 0.0, kMaxRayBias, "an offset");
        if (j.contains("transparentBackground"))
            s.transparentBackground =
                boolean(j["transparentBackground"], path + ".transparentBackground");
    }

    void loadCamera(const json& j, const std::string& path) {
        object(j, path);
        checkKeys(j, path, {"position", "target", "up", "fov"});
        Camera& c = out_->camera;
        auto place = [this](const json& v, const std::string& p) { return this->place(v, p); };
        if (j.contains("position"))
            c.position = animated<Point3>(j["position"], path + ".position", place);
        if (j.contains("target"))
            c.target = animated<Point3>(j["target"], path + ".target", place);
        if (j.contains("up")) {
            const std::string up = path + ".up";
            Point3 u = vec3(j["up"], up);
            // Only its direction counts: taken as a unit vector, so that no length overflows.
            const double x = u.x, y = u.y, z = u.z, len = std::sqrt(x * x + y * y + z * z);
            if (!(len > 0.0))
                fail(up, "expected a non-zero vector");
            c.up = Point3(static_cast<float>(x / len), static_cast<float>(y / len),
                          static_cast<float>(z / len));
        }
        if (j.contains("fov"))
            c.fov = animated<float>(
                j["fov"], path + ".fov", [this](const json& v, const std::string& p) {
                    float f = numberF(v, p);
                    if (!(f > 0.0f && f < 180.0f))
                        fail(p, "expected a vertical field of view between 0 and 180 degrees");
                    return f;
                });
        // A camera at its target looks nowhere: every key time of either is checked (between
        // keys both move linearly, so they can still meet there; such a frame fails to render).
        std::vector<TimeValue> times = {0};
        for (const auto& k : c.position.Keys())
            times.push_back(k.time);
        for (const auto& k : c.target.Keys())
            times.push_back(k.time);
        for (TimeValue t : times)
            if (c.position.Get(t) == c.target.Get(t))
                fail(path + ".target", "the camera's target is its position (at frame " +
                                           std::to_string(t / TicksPerFrame) +
                                           "); expected a point to look at");
    }

    void loadBackground(const json& j, const std::string& path) {
        if (j.is_array()) {
            out_->background.top = out_->background.bottom = color(j, path);
            return;
        }
        object(j, path);
        checkKeys(j, path, {"top", "bottom"});
        if (j.contains("top"))
            out_->background.top = color(j["top"], path + ".top");
        if (j.contains("bottom"))
            out_->background.bottom = color(j["bottom"], path + ".bottom");
    }

    void defaultLights() {
        Light sun;
        sun.direction = Normalize(Point3(-0.4f, 0.6f, -1.0f));
        out_->lights.push_back(sun);
        Light amb;
        amb.type = LightType::Ambient;
        amb.color = Color(0.15f, 0.15f, 0.17f);
        out_->lights.push_back(amb);
    }

    void loadLights(const json& j, const std::string& path) {
        array(j, path);
        for (std::size_t i = 0; i < j.size(); ++i) {
            std::string p = path + "[" + std::to_string(i) + "]";
            const json& l = object(j[i], p);
            if (!l.contains("type"))
                fail(p, "expected a \"type\": \"directional\", \"point\", \"ambient\" or \"dome\"");
            std::string type = string(l["type"], p + ".type");
            Light light;
            if (type == "directional") {
                checkKeys(l, p, {"type", "direction", "color", "intensity", "shadows"});
                light.type = LightType::Directional;
                if (l.contains("direction"))
                    light.direction = vec3(l["direction"], p + ".direction");
                if (light.direction.Length() == 0.0f)
                    fail(p + ".direction", "expected a non-zero vector");
            } else if (type == "point") {
                checkKeys(l, p, {"type", "position", "color", "intensity", "shadows"});
                light.type = LightType::Point;
                if (!l.contains("position"))
                    fail(p, "a point light needs a \"position\"");
                light.position = place(l["position"], p + ".position");
            } else if (type == "ambient") {
                checkKeys(l, p, {"type", "color", "intensity"});
                light.type = LightType::Ambient;
            } else if (type == "dome") {
                checkKeys(l, p, {"type", "color", "sky", "intensity"});
                light.type = LightType::Dome;
                if (l.contains("sky"))
                    light.skyColor = color(l["sky"], p + ".sky");
            } else {
                fail(p + ".type", "unknown light type \"" + type +
                                      "\" (expected directional, point, ambient or dome)");
            }
            if (l.contains("color"))
                light.color = color(l["color"], p + ".color");
            if (l.contains("intensity"))
                light.intensity =
                    numberIn(l["intensity"], p + ".intensity", 0.0, kMaxIntensity, "an intensity");
            if (l.contains("shadows"))
                light.shadows = boolean(l["shadows"], p + ".shadows");
            out_->lights.push_back(light);
        }
    }

    void loadMaterials(const json& j, const std::string& path) {
        object(j, path);
        for (auto it = j.begin(); it != j.end(); ++it) {
            std::string p = path + "." + it.key();
            const json& m = object(it.value(), p);
            checkKeys(m, p, {"type", "color", "specular", "shininess", "reflection", "ior"});
            Material mat;
            mat.name = it.key();
            std::string type = m.contains("type") ? string(m["type"], p + ".type") : "diffuse";
            if (type == "diffuse")
                mat.type = MaterialType::Diffuse;
            else if (type == "glossy")
                mat.type = MaterialType::Glossy;
            else if (type == "mirror") {
                mat.type = MaterialType::Mirror;
                mat.color = Color(0.9f, 0.9f, 0.9f);
            } else if (type == "glass") {
                mat.type = MaterialType::Glass;
                mat.color = Color(1.0f, 1.0f, 1.0f);
            } else
                fail(p + ".type", "unknown material type \"" + type +
                                      "\" (expected diffuse, glossy, mirror or glass)");
            if (m.contains("color")) {
                if (m["color"].is_string()) {
                    if (m["color"].get<std::string>() != "surface")
                        fail(p + ".color", "expected [r, g, b] or \"surface\"");
                    mat.useSurfaceColor = true;
                } else {
                    mat.color = color(m["color"], p + ".color");
                }
            }
            if (m.contains("specular"))
                mat.specular = numberIn(m["specular"], p + ".specular", 0.0, kMaxColor,
                                        "a highlight strength");
            if (m.contains("shininess"))
                mat.shininess = numberIn(m["shininess"], p + ".shininess", 0.0, 1e6, "a sharpness");
            if (m.contains("reflection"))
                mat.reflection =
                    numberIn(m["reflection"], p + ".reflection", 0.0, 1.0, "a fraction");
            if (m.contains("ior"))
                mat.ior = numberIn(m["ior"], p + ".ior", 0.001, 1000.0, "an index of refraction");
            materialIndex_[mat.name] = static_cast<int>(out_->materials.size());
            out_->materials.push_back(mat);
        }
    }

    Texmap* makeTexmap(const json& j, const std::string& path) {
        object(j, path);
        if (!j.contains("type"))
            fail(path, "expected a \"type\" (constant, gradient, noise or checker)");
        std::string type = string(j["type"], path + ".type");
        TexmapParams params;
        for (auto it = j.begin(); it != j.end(); ++it)
            if (it.key() != "type")
                params[it.key()] = number(it.value(), path + "." + it.key());
        std::string err;
        Texmap* m = CreateTexmap(type, params, &err);
        if (!m)
            fail(path, err.empty() ? "cannot make a \"" + type + "\" map" : err);
        out_->texmaps.push_back(m);
        return m;
    }

    void loadTextures(const json& j, const std::string& path) {
        object(j, path);
        for (auto it = j.begin(); it != j.end(); ++it)
            textures_[it.key()] = makeTexmap(it.value(), path + "." + it.key());
    }

    // ---- nodes ----

    static Matrix3 rotationX(float deg) {
        float a = deg * static_cast<float>(M_PI / 180.0), c = std::cos(a), s = std::sin(a);
        return Matrix3(Point3(1, 0, 0), Point3(0, c, s), Point3(0, -s, c), Point3(0, 0, 0));
    }
    static Matrix3 rotationY(float deg) {
        float a = deg * static_cast<float>(M_PI / 180.0), c = std::cos(a), s = std::sin(a);
        return Matrix3(Point3(c, 0, -s), Point3(0, 1, 0), Point3(s, 0, c), Point3(0, 0, 0));
    }
    static Matrix3 rotationZ(float deg) {
        float a = deg * static_cast<float>(M_PI / 180.0), c = std::cos(a), s = std::sin(a);
        return Matrix3(Point3(c, s, 0), Point3(-s, c, 0), Point3(0, 0, 1), Point3(0, 0, 0));
    }

    // Scale, then rotations about X, Y and Z (degrees), then the position.
    Matrix3 transformFrom(const json& j, const std::string& path, bool keyed) {
        object(j, path);
        if (keyed)
            checkKeys(j, path, {"frame", "position", "rotation", "scale"});
        else
            checkKeys(j, path, {"position", "rotation", "scale"});
        Matrix3 tm;
        if (j.contains("scale")) {
            Point3 s = j["scale"].is_number() ? Point3(numberF(j["scale"], path + ".scale"),
                                                       numberF(j["scale"], path + ".scale"),
                                                       numberF(j["scale"], path + ".scale"))
                                              : vec3(j["scale"], path + ".scale");
            // A zero scale flattens the node to nothing: no transform to invert, no normal.
            if (s.x == 0.0f || s.y == 0.0f || s.z == 0.0f)
                fail(path + ".scale", "expected a scale other than 0, got " + j["scale"].dump());
            tm = ScaleMatrix(s);
        }
        if (j.contains("rotation")) {
            Point3 r = vec3(j["rotation"], path + ".rotation");
            tm = tm * rotationX(r.x) * rotationY(r.y) * rotationZ(r.z);
        }
        if (j.contains("position"))
            tm.SetTrans(tm.GetTrans() + vec3(j["position"], path + ".position"));
        return tm;
    }

    void applyTransform(INode* node, const json& j, const std::string& path) {
        if (j.is_array()) {
            if (j.empty())
                fail(path, "expected at least one key");
            for (std::size_t i = 0; i < j.size(); ++i) {
                std::string kp = path + "[" + std::to_string(i) + "]";
                object(j[i], kp);
                if (!j[i].contains("frame"))
                    fail(kp, "expected a \"frame\" in every transform key");
                float f = static_cast<float>(frameNumber(j[i]["frame"], kp + ".frame"));
                node->SetNodeTMKey(static_cast<TimeValue>(std::lround(f * TicksPerFrame)),
                                   transformFrom(j[i], kp, true));
            }
        } else {
            node->SetNodeTMConstant(transformFrom(j, path, false));
        }
    }

    // Bakes a mesh colour channel: each vertex coloured along one object axis from `from` to
    // `to` over the mesh's extent.
    void applyVertexColors(Mesh& mesh, const json& j, const std::string& path) {
        object(j, path);
        checkKeys(j, path, {"axis", "from", "to"});
        int axis = 2;
        if (j.contains("axis")) {
            std::string a = string(j["axis"], path + ".axis");
            if (a == "x")
                axis = 0;
            else if (a == "y")
                axis = 1;
            else if (a == "z")
                axis = 2;
            else
                fail(path + ".axis", "expected \"x\", \"y\" or \"z\"");
        }
        Color from = j.contains("from") ? color(j["from"], path + ".from") : Color(1, 0, 0);
        Color to = j.contains("to") ? color(j["to"], path + ".to") : Color(0, 0, 1);
        Box3 b = mesh.getBoundingBox();
        float lo = b.pmin[axis], hi = b.pmax[axis];
        mesh.setNumVertCol(mesh.numVerts);
        for (int k = 0; k < mesh.numVerts; ++k) {
            float u = hi > lo ? (mesh.verts[k][axis] - lo) / (hi - lo) : 0.0f;
            mesh.vertCol[k] = Point3(from.r + (to.r - from.r) * u, from.g + (to.g - from.g) * u,
                                     from.b + (to.b - from.b) * u);
        }
        mesh.setNumVCFaces(mesh.numFaces);
        for (int k = 0; k < mesh.numFaces; ++k)
            mesh.vcFace[k] = TVFace(mesh.faces[k].v[0], mesh.faces[k].v[1], mesh.faces[k].v[2]);
    }

    Mesh loadMeshFile(const std::string& path, const std::string& jpath) {
        // Only the formats the scene format names: the importer reads many more, but it was
        // seen to crash on malformed files of others, and those are not checked here.
        std::string ext = std::filesystem::path(path).extension().string();
        for (char& ch : ext)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (ext != ".obj" && ext != ".ply" && ext != ".stl" && ext != ".gltf" && ext != ".glb")
            fail(jpath, "cannot read the mesh file \"" + path +
                            "\": expected an .obj, .ply, .stl, .gltf or .glb file");
        // The importer says only "Failed to open file" of a file it cannot open; the system
        // says why.
        if (!std::ifstream(path, std::ios::binary))
            fail(jpath, "cannot read the mesh file \"" + path + "\": " + std::strerror(errno));
        if (ext == ".ply" || ext == ".glb") {
            std::string problem = ext == ".ply" ? plyHeaderProblem(path) : glbHeaderProblem(path);
            if (!problem.empty())
                fail(jpath, "cannot read the mesh file \"" + path + "\": " + problem);
        }
        MeshFileData data;
        std::string problem;
        if (!readMeshFile(path, data, problem))
            fail(jpath, problem);
        const int nv = static_cast<int>(data.positions.size() / 3);
        const int nf = static_cast<int>(data.triangles.size() / 3);
        const bool colors = data.colored;
        Mesh mesh;
        mesh.setNumVerts(nv);
        mesh.setNumFaces(nf);
        if (colors) {
            mesh.setNumVertCol(nv);
            mesh.setNumVCFaces(nf);
        }
        for (int v = 0; v < nv; ++v) {
            const float* p = &data.positions[static_cast<std::size_t>(v) * 3];
            mesh.verts[v] = Point3(p[0], p[1], p[2]);
            if (colors) {
                const float* c = &data.colors[static_cast<std::size_t>(v) * 3];
                mesh.vertCol[v] = Point3(c[0], c[1], c[2]);
            }
        }
        for (int f = 0; f < nf; ++f) {
            const int* t = &data.triangles[static_cast<std::size_t>(f) * 3];
            mesh.faces[f].setVerts(t[0], t[1], t[2]);
            if (colors)
                mesh.vcFace[f] = TVFace(t[0], t[1], t[2]);
        }
        return mesh;
    }

    TimeValue frames(const json& j, const std::string& path) {
        return static_cast<TimeValue>(std::lround(frameNumber(j, path) * TicksPerFrame));
    }

    struct PendingObject {
        INode* node;
        Object* object;
        ClassDesc* cd;
        const json* j;
        std::string path;
    };

    void loadNodes(const json& j, const std::string& path) {
        array(j, path);
        std::vector<PendingObject> pending;
        std::set<std::string> names;
        for (std::size_t i = 0; i < j.size(); ++i) {
            checkStop();
            std::string p = path + "[" + std::to_string(i) + "]";
            const json& n = object(j[i], p);
            if (!n.contains("name"))
                fail(p, "expected a \"name\"");
            std::string name = string(n["name"], p + ".name");
            if (name.empty())
                fail(p + ".name", "expected a non-empty name");
            if (findNode(name))
                fail(p + ".name", "a node named \"" + name + "\" already exists");
            RenderNode rn;
            std::string type = n.contains("type")    ? string(n["type"], p + ".type")
                               : n.contains("class") ? "object"
                                                     : "";
            if (type.empty())
                fail(p, "expected a \"type\" (sphere, box, plane, torus, mesh, emitter, particles, "
                        "pflow) or a \"class\"");
            if (type == "object") {
                if (!n.contains("class"))
                    fail(p, "expected a \"class\" naming the object's class");
                std::string cls = string(n["class"], p + ".class");
                ClassDesc* cd = ClassDirectory::Instance().FindClass(cls.c_str());
                if (!cd) {
                    std::string known;
                    for (int k = 0; k < ClassDirectory::Instance().Count(); ++k) {
                        ClassDesc* c = ClassDirectory::Instance().Get(k);
                        if (c && c->IsPublic())
                            known += std::string(known.empty() ? "" : ", ") + c->ClassName();
                    }
                    fail(p + ".class",
                         "unknown class \"" + cls + "\" (known classes: " +
                             (known.empty() ? "none; is the plug-in loaded?" : known) + ")");
                }
                if (cd->SuperClassID() != GEOMOBJECT_CLASS_ID)
                    fail(p + ".class", "class \"" + cls + "\" is not a geometric object");
                void* made = cd->Create(FALSE);
                if (!made)
                    fail(p + ".class", "class \"" + cls + "\" refused to create an object");
                // A geometric object's descriptor hands out the object as its Object part.
                auto* obj = static_cast<Object*>(made);
                INode* node = out_->scene->CreateNode(obj, name.c_str());
                rn.node = node;
                rn.kind = NodeKind::Plugin;
                pending.push_back({node, obj, cd, &n, p});
            } else {
                rn.node = makeSourceNode(n, p, type, name, rn);
            }
            if (n.contains("transform"))
                applyTransform(rn.node, n["transform"], p + ".transform");
            if (n.contains("visible"))
                rn.visible = boolean(n["visible"], p + ".visible");
            if (n.contains("material")) {
                std::string m = string(n["material"], p + ".material");
                auto it = materialIndex_.find(m);
                if (it == materialIndex_.end())
                    fail(p + ".material", "unknown material \"" + m + "\"");
                rn.material = it->second;
            }
            named(rn.node);
            out_->nodes.push_back(rn);
        }
        // Objects are filled once every node exists, so their lists may name nodes that come
        // later in the file.
        for (PendingObject& po : pending) {
            checkStop();
            fillObject(po);
        }
    }

    INode* makeSourceNode(const json& n, const std::string& p, const std::string& type,
                          const std::string& name, RenderNode& rn) {
        static const std::set<std::string> common = {"name", "type", "transform", "visible",
                                                     "material"};
        auto allow = [&](std::initializer_list<const char*> extra) {
            for (auto it = n.begin(); it != n.end(); ++it) {
                if (common.count(it.key()))
                    continue;
                bool ok = false;
                for (const char* e : extra)
                    ok = ok || it.key() == e;
                if (!ok) {
                    std::string list =
                        "\"name\", \"type\", \"transform\", \"visible\", \"material\"";
                    for (const char* e : extra)
                        list += std::string(", \"") + e + "\"";
                    fail(p, "unknown key \"" + it.key() + "\" for a " + type + " node (expected " +
                                list + ")");
                }
            }
        };
        Scene& scene = *out_->scene;
        Object* obj = nullptr;
        // The new object until the scene takes it: a failure on the way deletes it.
        Object* owned = nullptr;
        struct Drop {
            Object*& o;
            ~Drop() {
                if (o)
                    o->DeleteThis();
            }
        } drop{owned};
        rn.kind = NodeKind::Mesh;
        if (type == "sphere") {
            allow({"radius", "segments", "vertexColors"});
            auto* o = new SphereObject;
            owned = o;
            if (n.contains("radius"))
                o->radius = animSize(n["radius"], p + ".radius", "a radius");
            if (n.contains("segments"))
                o->segments = animSegments(n["segments"], p + ".segments");
            obj = o;
        } else if (type == "box") {
            allow({"length", "width", "height", "vertexColors"});
            auto* o = new BoxObject;
            owned = o;
            if (n.contains("length"))
                o->length = animSize(n["length"], p + ".length", "a length", true);
            if (n.contains("width"))
                o->width = animSize(n["width"], p + ".width", "a width", true);
            if (n.contains("height"))
                o->height = animSize(n["height"], p + ".height", "a height", true);
            obj = o;
        } else if (type == "plane") {
            allow({"length", "width", "segments", "vertexColors"});
            auto* o = new PlaneObject;
            owned = o;
            if (n.contains("length"))
                o->length = animSize(n["length"], p + ".length", "a length", true);
            if (n.contains("width"))
                o->width = animSize(n["width"], p + ".width", "a width", true);
            if (n.contains("segments"))
                o->segs = animSegments(n["segments"], p + ".segments");
            obj = o;
        } else if (type == "torus") {
            allow({"radius1", "radius2", "segments", "vertexColors"});
            auto* o = new TorusObject;
            owned = o;
            if (n.contains("radius1"))
                o->radius1 = animSize(n["radius1"], p + ".radius1", "a radius");
            if (n.contains("radius2"))
                o->radius2 = animSize(n["radius2"], p + ".radius2", "a radius");
            if (n.contains("segments"))
                o->segs = animSegments(n["segments"], p + ".segments");
            obj = o;
        } else if (type == "mesh") {
            allow({"file", "vertexColors"});
            if (!n.contains("file"))
                fail(p, "a mesh node needs a \"file\"");
            std::string f = file(n["file"], p + ".file");
            auto* o = new TriObject(loadMeshFile(f, p + ".file"));
            owned = o;
            obj = o;
        } else if (type == "emitter") {
            allow({"rate", "start", "end", "speed", "direction", "spread", "life", "size",
                   "sizeVariation", "seed"});
            rn.kind = NodeKind::Particles;
            auto* o = new EmitterParticleObject;
            owned = o;
            if (n.contains("rate"))
                o->rate = numberF(n["rate"], p + ".rate");
            if (n.contains("start"))
                o->start = frames(n["start"], p + ".start");
            if (n.contains("end"))
                o->end = frames(n["end"], p + ".end");
            if (n.contains("speed"))
                o->speed = numberF(n["speed"], p + ".speed");
            if (n.contains("direction"))
                o->direction = vec3(n["direction"], p + ".direction");
            if (n.contains("spread"))
                o->spread = numberF(n["spread"], p + ".spread");
            if (n.contains("life"))
                o->life = frames(n["life"], p + ".life");
            if (n.contains("size"))
                o->size = numberF(n["size"], p + ".size");
            if (n.contains("sizeVariation"))
                o->sizeVariation = numberF(n["sizeVariation"], p + ".sizeVariation");
            if (n.contains("seed"))
                o->seed = static_cast<std::uint32_t>(integer(n["seed"], p + ".seed"));
            if (!(o->rate > 0.0f))
                fail(p + ".rate", "expected a rate above 0 particles per second");
            obj = o;
        } else if (type == "particles") {
            allow({"file", "particles", "as", "event"});
            rn.kind = NodeKind::Particles;
            return makeParticles(n, p, name);
        } else if (type == "pflow") {
            allow({"events", "particles"});
            rn.kind = NodeKind::Particles;
            return makeFlow(n, p, name);
        } else {
            fail(p + ".type", "unknown node type \"" + type +
                                  "\" (expected sphere, box, plane, torus, mesh, emitter, "
                                  "particles or pflow, or a \"class\")");
        }
        if (n.contains("vertexColors")) {
            // Colours belong to a fixed mesh: the procedural object is frozen into a mesh at
            // frame 0 to carry them.
            TriObject* tri = nullptr;
            if (obj->ClassID() == triObjectClassID) {
                tri = static_cast<TriObject*>(obj);
            } else {
                Object* conv = obj->ConvertToType(0, triObjectClassID);
                tri = static_cast<TriObject*>(conv);
                obj->DeleteThis();
                obj = owned = tri;
            }
            applyVertexColors(tri->GetMesh(), n["vertexColors"], p + ".vertexColors");
        }
        owned = nullptr;
        return scene.CreateNode(obj, name.c_str());
    }

    INode* makeParticles(const json& n, const std::string& p, const std::string& name) {
        Scene& scene = *out_->scene;
        std::string as = n.contains("as") ? string(n["as"], p + ".as") : "simple";
        if (as != "simple" && as != "pflow" && as != "mesh")
            fail(p + ".as", "expected \"simple\", \"pflow\" or \"mesh\"");
        PointSet pts;
        if (n.contains("file")) {
            std::string f = file(n["file"], p + ".file");
            try {
                pts = readPly(f);
            } catch (const BadInput& e) {
                fail(p + ".file", e.what());
            }
        } else if (n.contains("particles")) {
            const json& list = array(n["particles"], p + ".particles");
            std::vector<PointRecord> records;
            records.reserve(list.size());
            for (std::size_t i = 0; i < list.size(); ++i) {
                if (i % 1024 == 0)
                    checkStop();
                std::string ip = p + ".particles[" + std::to_string(i) + "]";
                const json& q = object(list[i], ip);
                checkKeys(q, ip, {"position", "velocity", "radius", "color", "id", "age"});
                PointRecord r;
                if (!q.contains("position"))
                    fail(ip, "expected a \"position\"");
                r.position = vec3(q["position"], ip + ".position");
                if (q.contains("velocity")) {
                    r.velocity = vec3(q["velocity"], ip + ".velocity");
                    pts.hasVelocity = true;
                }
                if (q.contains("radius")) {
                    r.radius = numberF(q["radius"], ip + ".radius");
                    pts.hasRadius = true;
                }
                if (q.contains("color")) {
                    r.color = color(q["color"], ip + ".color");
                    pts.hasColor = true;
                }
                r.id = q.contains("id") ? integer(q["id"], ip + ".id") : static_cast<int>(i);
                pts.hasId = pts.hasId || q.contains("id");
                // A particle without an age is 10 frames old, whatever its neighbours say.
                r.age = kUnknownAge;
                if (q.contains("age")) {
                    r.age = numberF(q["age"], ip + ".age");
                    pts.hasAge = true;
                }
                records.push_back(r);
            }
            for (const PointRecord& r : records)
                pts.push_back(r);
        } else {
            fail(p, "a particles node needs a \"file\" or a \"particles\" list");
        }
        // Positions are those at frame 0; a particle of age a frames was born a frames earlier.
        // Particles without an age are taken to be 10 frames old so that they exist throughout
        // a shutter around frame 0.
        auto birthOf = [&](const PointRecord& r) {
            float age = pts.hasAge ? r.age : kUnknownAge;
            return static_cast<TimeValue>(std::lround(-age * TicksPerFrame));
        };
        if (as == "mesh") {
            // The points as the vertices of a mesh without faces, at their frame-0 places (a
            // mesh does not move): the leanest form for big still clouds, 12 bytes a point.
            auto* o = new TriObject;
            Mesh& mesh = o->GetMesh();
            const int nv = static_cast<int>(pts.size());
            if (pts.hasColor) {
                mesh.setNumVertCol(nv);
                mesh.setNumVCFaces(0);
                for (int v = 0; v < nv; ++v) {
                    const Color& c = pts.colors[static_cast<std::size_t>(v)];
                    mesh.vertCol[v] = Point3(c.r, c.g, c.b);
                }
            }
            // The positions' storage becomes the mesh's: no second copy of a big cloud.
            mesh.setVerts(std::move(pts.positions));
            pts = PointSet(); // the file's records are not needed past this point
            return scene.CreateNode(o, name.c_str());
        }
        if (as == "simple") {
            auto* o = new DataParticleObject;
            o->particles.reserve(pts.size());
            o->hasRadii = pts.hasRadius;
            for (std::size_t i = 0; i < pts.size(); ++i) {
                const PointRecord r = pts.at(i);
                SimpleParticleRecord s;
                s.birth = birthOf(r);
                s.velocity = r.velocity / static_cast<float>(TicksPerFrame);
                s.position = r.position - s.velocity * static_cast<float>(-s.birth);
                s.radius = r.radius;
                o->particles.push_back(s);
            }
            return scene.CreateNode(o, name.c_str());
        }
        auto* o = new PFlowSystemObject;
        INode* node = named(scene.CreateNode(o, name.c_str()));
        std::string ev = n.contains("event") ? string(n["event"], p + ".event") : name + " Event";
        if (findNode(ev))
            fail(p + ".event", "a node named \"" + ev + "\" already exists");
        o->AddEvent(scene, ev.c_str(), true, true);
        o->particles.reserve(pts.size());
        RenderNode en;
        en.node = named(scene.FindNode(ev.c_str()));
        out_->nodes.push_back(en);
        // A flow tells its particles apart by id: two of one id would be one particle twice.
        std::unordered_set<int> ids;
        for (std::size_t i = 0; i < pts.size(); ++i) {
            const PointRecord r = pts.at(i);
            if (!ids.insert(r.id).second)
                fail(n.contains("file") ? p + ".file"
                                        : p + ".particles[" + std::to_string(i) + "].id",
                     "a particle with id " + std::to_string(r.id) + " already exists (point " +
                         std::to_string(i) + ")");
            FlowParticleRecord f;
            f.id = r.id;
            f.birth = birthOf(r);
            f.velocity = r.velocity / static_cast<float>(TicksPerFrame);
            f.position = r.position - f.velocity * static_cast<float>(-f.birth);
            f.size = pts.hasRadius ? r.radius : 1.0f;
            f.color = Point3(r.color.r, r.color.g, r.color.b);
            f.event = 0;
            o->particles.push_back(f);
        }
        return node;
    }

    INode* makeFlow(const json& n, const std::string& p, const std::string& name) {
        Scene& scene = *out_->scene;
        auto* o = new PFlowSystemObject;
        INode* node = named(scene.CreateNode(o, name.c_str()));
        std::map<std::string, int> eventIndex;
        if (!n.contains("events"))
            fail(p, "a pflow node needs \"events\": a list of event names");
        const json& evs = array(n["events"], p + ".events");
        for (std::size_t i = 0; i < evs.size(); ++i) {
            std::string ep = p + ".events[" + std::to_string(i) + "]";
            std::string ev = string(evs[i], ep);
            if (findNode(ev))
                fail(ep, "a node named \"" + ev + "\" already exists");
            o->AddEvent(scene, ev.c_str(), true, true);
            eventIndex[ev] = static_cast<int>(i);
            RenderNode en;
            en.node = named(scene.FindNode(ev.c_str()));
            out_->nodes.push_back(en);
        }
        auto eventOf = [&](const json& v, const std::string& ep) {
            if (v.is_string()) {
                auto it = eventIndex.find(v.get<std::string>());
                if (it == eventIndex.end())
                    fail(ep, "unknown event \"" + v.get<std::string>() + "\"");
                return it->second;
            }
            int e = integer(v, ep);
            if (e < 0 || e >= static_cast<int>(evs.size()))
                fail(ep, "expected an event name or an index below " + std::to_string(evs.size()));
            return e;
        };
        if (n.contains("particles")) {
            const json& list = array(n["particles"], p + ".particles");
            std::unordered_set<int> ids;
            for (std::size_t i = 0; i < list.size(); ++i) {
                if (i % 1024 == 0)
                    checkStop();
                std::string ip = p + ".particles[" + std::to_string(i) + "]";
                const json& q = object(list[i], ip);
                checkKeys(q, ip,
                          {"id", "birth", "death", "position", "velocity", "size", "color", "event",
                           "nextEvent", "switch"});
                FlowParticleRecord f;
                f.id = q.contains("id") ? integer(q["id"], ip + ".id") : static_cast<int>(i);
                if (q.contains("birth"))
                    f.birth = frames(q["birth"], ip + ".birth");
                if (q.contains("death"))
                    f.death = frames(q["death"], ip + ".death");
                if (f.death < f.birth)
                    fail(ip + ".death", "the particle dies (frame " + q["death"].dump() +
                                            ") before it is born (frame " +
                                            (q.contains("birth") ? q["birth"].dump() : "0") + ")");
                if (!ids.insert(f.id).second)
                    fail(ip + (q.contains("id") ? ".id" : ""),
                         "a particle with id " + std::to_string(f.id) + " already exists");
                if (!q.contains("position"))
                    fail(ip, "expected a \"position\" (at birth)");
                f.position = vec3(q["position"], ip + ".position");
                if (q.contains("velocity"))
                    f.velocity =
                        vec3(q["velocity"], ip + ".velocity") / static_cast<float>(TicksPerFrame);
                if (q.contains("size"))
                    f.size = numberF(q["size"], ip + ".size");
                if (q.contains("color")) {
                    Color c = color(q["color"], ip + ".color");
                    f.color = Point3(c.r, c.g, c.b);
                }
                if (q.contains("event"))
                    f.event = eventOf(q["event"], ip + ".event");
                if (q.contains("nextEvent"))
                    f.nextEvent = eventOf(q["nextEvent"], ip + ".nextEvent");
                if (q.contains("switch"))
                    f.switchTime = frames(q["switch"], ip + ".switch");
                o->particles.push_back(f);
            }
        }
        return node;
    }

    // ---- plug-in objects ----

    INode* nodeNamed(const json& v, const std::string& path) {
        std::string name = string(v, path);
        INode* n = findNode(name);
        if (!n)
            fail(path, "no node named \"" + name + "\" in the scene");
        return n;
    }

    // Calls a published function of the object's mixin interfaces by name with one node.
    // Answers false when the class publishes no function of that name.
    bool callWithNode(PendingObject& po, const std::string& fn, INode* node,
                      const std::string& path) {
        for (int i = 0; i < po.cd->NumInterfaces(); ++i) {
            FPInterface* fi = po.cd->GetInterfaceAt(i);
            FPInterfaceDesc* d = fi ? fi->GetDesc() : nullptr;
            if (!d || !(d->flags & FP_MIXIN) || !d->GetFnDefByName(fn.c_str()))
                continue;
            FPInterface* mine = GetObjectInterface(po.object, d->ID);
            if (!mine)
                continue;
            FPValue result;
            FPParams args{FPValue::Node(node)};
            FPStatus st = mine->InvokeByName(fn.c_str(), 0, result, &args);
            if (st != FPS_OK)
                fail(path, "the published function \"" + fn + "\" of class \"" +
                               po.cd->ClassName() + "\" failed for node \"" + node->GetName() +
                               "\"");
            return true;
        }
        return false;
    }

    void fillObject(PendingObject& po) {
        const json& n = *po.j;
        IParamBlock2* pb = po.object->NumParamBlocks() > 0 ? po.object->GetParamBlock(0) : nullptr;
        static const std::set<std::string> reserved = {"name",    "type",     "class",  "transform",
                                                       "visible", "material", "params", "calls"};
        // Parameters come from "params" and from the node's own keys (e.g. "nodes": [...]).
        std::vector<std::pair<std::string, std::pair<const json*, std::string>>> params;
        if (n.contains("params")) {
            const json& ps = object(n["params"], po.path + ".params");
            for (auto it = ps.begin(); it != ps.end(); ++it)
                params.push_back({it.key(), {&it.value(), po.path + ".params." + it.key()}});
        }
        for (auto it = n.begin(); it != n.end(); ++it)
            if (!reserved.count(it.key()))
                params.push_back({it.key(), {&it.value(), po.path + "." + it.key()}});
        for (auto& [name, v] : params) {
            if (!pb)
                fail(v.second,
                     "class \"" + std::string(po.cd->ClassName()) + "\" has no parameters");
            setParam(po, pb, name, *v.first, v.second);
        }
        if (n.contains("calls")) {
            const json& calls = array(n["calls"], po.path + ".calls");
            for (std::size_t i = 0; i < calls.size(); ++i) {
                std::string cp = po.path + ".calls[" + std::to_string(i) + "]";
                const json& c = object(calls[i], cp);
                checkKeys(c, cp, {"function", "node"});
                if (!c.contains("function") || !c.contains("node"))
                    fail(cp, "expected {\"function\": name, \"node\": node name}");
                std::string fn = string(c["function"], cp + ".function");
                INode* node = nodeNamed(c["node"], cp + ".node");
                if (!callWithNode(po, fn, node, cp))
                    fail(cp + ".function", "class \"" + std::string(po.cd->ClassName()) +
                                               "\" publishes no function \"" + fn + "\"");
            }
        }
    }

    std::string paramNames(IParamBlock2* pb) {
        std::string s;
        ParamBlockDesc2* d = pb->GetDesc();
        for (int i = 0; i < d->Count(); ++i)
            s += std::string(s.empty() ? "" : ", ") + d->GetParamDefByIndex(i)->int_name;
        return s;
    }

    void setParam(PendingObject& po, IParamBlock2* pb, const std::string& name, const json& v,
                  const std::string& path) {
        ParamBlockDesc2* d = pb->GetDesc();
        ParamID id = d->IDByName(name.c_str());
        if (id < 0)
            fail(path, "unknown parameter \"" + name + "\" of class \"" + po.cd->ClassName() +
                           "\" (valid: " + paramNames(pb) + ")");
        ParamDef& def = d->GetParamDef(id);
        ParamType2 type = def.type;
        if (is_tab(type)) {
            setTable(po, pb, id, name, base_type(type), v, path);
            return;
        }
        bool keyed = v.is_array() && !v.empty() && v[0].is_object();
        if (keyed) {
            if (!(def.flags & P_ANIMATABLE))
                fail(path, "parameter \"" + name + "\" is not animatable; expected a constant");
            for (std::size_t i = 0; i < v.size(); ++i) {
                std::string kp = path + "[" + std::to_string(i) + "]";
                const json& k = object(v[i], kp);
                checkKeys(k, kp, {"frame", "value"});
                if (!k.contains("frame") || !k.contains("value"))
                    fail(kp, "expected a key {\"frame\": number, \"value\": ...}");
                TimeValue t = frames(k["frame"], kp + ".frame");
                setOne(pb, id, type, name, k["value"], kp + ".value", t, true);
            }
            return;
        }
        setOne(pb, id, type, name, v, path, 0, false);
    }

    Texmap* texmapValue(const json& v, const std::string& path) {
        if (v.is_null())
            return nullptr;
        if (v.is_object())
            return makeTexmap(v, path);
        std::string t = string(v, path);
        auto it = textures_.find(t);
        if (it == textures_.end())
            fail(path, "unknown texture \"" + t + "\" (define it under \"textures\")");
        return it->second;
    }

    // The block would clamp a value outside its range without a word, as a spinner does; a
    // scene file states its values, so one the block would change is refused instead.
    [[noreturn]] void outOfRange(const std::string& name, const json& v, double low, double high,
                                 const std::string& path) {
        char range[96];
        std::snprintf(range, sizeof range, "%g to %g", low, high);
        fail(path, "parameter \"" + name + "\": " + v.dump() +
                       " is out of range; expected a value from " + range);
    }

    void setOne(IParamBlock2* pb, ParamID id, ParamType2 type, const std::string& name,
                const json& v, const std::string& path, TimeValue t, bool key) {
        BOOL ok = FALSE;
        switch (type) {
        case TYPE_FLOAT:
        case TYPE_ANGLE:
        case TYPE_PCNT_FRAC:
        case TYPE_WORLD: {
            float f = numberF(v, path);
            const ParamDef& def = pb->GetDesc()->GetParamDef(id);
            if (def.hasRange && !(f >= def.rangeLowF && f <= def.rangeHighF))
                outOfRange(name, v, def.rangeLowF, def.rangeHighF, path);
            ok = key ? pb->SetKey(id, t, f) : pb->SetValue(id, t, f);
            break;
        }
        case TYPE_INT:
        case TYPE_INDEX:
        case TYPE_RADIOBTN_INDEX:
        case TYPE_TIMEVALUE: {
            int i = integer(v, path);
            const ParamDef& def = pb->GetDesc()->GetParamDef(id);
            if (def.hasRange && (i < def.rangeLowI || i > def.rangeHighI))
                outOfRange(name, v, def.rangeLowI, def.rangeHighI, path);
            ok = key ? pb->SetKey(id, t, i) : pb->SetValue(id, t, i);
            break;
        }
        case TYPE_BOOL: {
            int b = v.is_boolean() ? (v.get<bool>() ? 1 : 0) : -1;
            if (b < 0)
                fail(path, "parameter \"" + name + "\" is a switch: expected true or false, got " +
                               typeName(v));
            ok = key ? pb->SetKey(id, t, b) : pb->SetValue(id, t, b);
            break;
        }
        case TYPE_POINT3:
        case TYPE_RGBA: {
            Point3 p = vec3(v, path);
            ok = key ? pb->SetKey(id, t, p) : pb->SetValue(id, t, p);
            break;
        }
        case TYPE_TEXMAP:
            if (key)
                fail(path, "a texture map cannot be keyed");
            ok = pb->SetValue(id, t, texmapValue(v, path));
            break;
        case TYPE_INODE:
            if (key)
                fail(path, "a node cannot be keyed");
            ok = pb->SetValue(id, t, nodeNamed(v, path));
            break;
        default:
            fail(path, "parameter \"" + name + "\" has a type a scene cannot set");
        }
        if (!ok)
            fail(path, "parameter \"" + name + "\" did not accept the value " + v.dump());
    }

    void setTable(PendingObject& po, IParamBlock2* pb, ParamID id, const std::string& name,
                  ParamType2 base, const json& v, const std::string& path) {
        array(v, path);
        if (base == TYPE_INODE) {
            auto adder = kNodeListAdders.find(name);
            for (std::size_t i = 0; i < v.size(); ++i) {
                if (i % 1024 == 0)
                    checkStop();
                std::string ip = path + "[" + std::to_string(i) + "]";
                INode* node = nodeNamed(v[i], ip);
                if (adder != kNodeListAdders.end() && callWithNode(po, adder->second, node, ip))
                    continue;
                INode* one[1] = {node};
                int before = pb->Count(id);
                if (pb->Append(id, 1, one) <= before)
                    fail(ip, "node \"" + std::string(node->GetName()) +
                                 "\" was refused by parameter \"" + name + "\"");
            }
            return;
        }
        // Read whole, then appended in one call: each append copies the table.
        auto appendAll = [&](auto read) {
            using T = decltype(read(v[0], path));
            std::vector<T> all;
            all.reserve(v.size());
            for (std::size_t i = 0; i < v.size(); ++i) {
                if (i % 4096 == 0)
                    checkStop();
                all.push_back(read(v[i], path + "[" + std::to_string(i) + "]"));
            }
            if (!all.empty())
                pb->Append(id, static_cast<int>(all.size()), all.data());
        };
        switch (base) {
        case TYPE_FLOAT:
        case TYPE_WORLD:
        case TYPE_ANGLE:
        case TYPE_PCNT_FRAC:
            appendAll([this](const json& e, const std::string& ip) { return numberF(e, ip); });
            break;
        case TYPE_INT:
        case TYPE_BOOL:
        case TYPE_INDEX:
            appendAll([this, base](const json& e, const std::string& ip) {
                return base == TYPE_BOOL && e.is_boolean() ? (e.get<bool>() ? 1 : 0)
                                                           : integer(e, ip);
            });
            break;
        case TYPE_POINT3:
        case TYPE_RGBA:
            appendAll([this](const json& e, const std::string& ip) { return vec3(e, ip); });
            break;
        case TYPE_TEXMAP:
            appendAll([this](const json& e, const std::string& ip) { return texmapValue(e, ip); });
            break;
        default:
            fail(path, "parameter \"" + name + "\" is a table of a type a scene cannot set");
        }
    }
};

} // namespace

std::unique_ptr<RenderScene> loadScene(const std::string& text, const std::string& source,
                                       const std::string& baseDir, const std::atomic<bool>* stop) {
    Loader l(source, baseDir, stop);
    return l.load(text);
}

std::unique_ptr<RenderScene> loadSceneFile(const std::string& path, const std::atomic<bool>* stop) {
    // The scene named on the command line may come through a pipe (a shell's <(...)), but a
    // folder or a device (/dev/zero, a terminal) is no scene: reading it would fail obscurely,
    // never end or wait for typing. Scenes are small (big data lives in point and mesh files);
    // a bigger file is refused, since the parsed JSON takes several times its size in memory.
    const std::uintmax_t kMaxSceneBytes = std::uintmax_t{256} << 20;
    TextInput in = readTextInput(path, kMaxSceneBytes, stop);
    switch (in.problem) {
    case TextInput::kRead:
        break;
    case TextInput::kNotAFile:
        throw BadInput(path + ": cannot read the scene: not a regular file");
    case TextInput::kCannotOpen:
        throw BadInput(path + ": cannot open the scene: " + std::strerror(in.error));
    case TextInput::kTooBig:
        throw BadInput(path + ": the scene file is larger than 256 MiB; scenes hold settings " +
                       "and names, keep big data in point or mesh files" +
                       (in.size > 0 ? " (this one has " + std::to_string(in.size >> 20) + " MiB)"
                                    : std::string()));
    case TextInput::kCannotRead:
        throw BadInput(path + ": cannot read the scene: " + std::strerror(in.error));
    case TextInput::kStopped:
        throw Interrupted("reading the scene " + printable(path));
    }
    const std::string& text = in.text;
    std::filesystem::path p(path);
    auto scene = loadScene(text, path, p.parent_path().string(), stop);
    scene->inputFiles.insert(scene->inputFiles.begin(), path);
    return scene;
}

} // namespace velquin::renderer
