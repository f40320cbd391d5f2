#include "renderer/PointFile.h"

#include "renderer/Errors.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace velquin::renderer {
namespace {

enum class PType { I8, U8, I16, U16, I32, U32, F32, F64, Bad };

PType typeFromName(const std::string& s) {
    if (s == "char" || s == "int8")
        return PType::I8;
    if (s == "uchar" || s == "uint8")
        return PType::U8;
    if (s == "short" || s == "int16")
        return PType::I16;
    if (s == "ushort" || s == "uint16")
        return PType::U16;
    if (s == "int" || s == "int32")
        return PType::I32;
    if (s == "uint" || s == "uint32")
        return PType::U32;
    if (s == "float" || s == "float32")
        return PType::F32;
    if (s == "double" || s == "float64")
        return PType::F64;
    return PType::Bad;
}

// The values an integer type holds; false for the floating-point types.
bool integerRange(PType t, double& low, double& high) {
    switch (t) {
    case PType::I8:
        low = -128.0, high = 127.0;
        return true;
    case PType::U8:
        low = 0.0, high = 255.0;
        return true;
    case PType::I16:
        low = -32768.0, high = 32767.0;
        return true;
    case PType::U16:
        low = 0.0, high = 65535.0;
        return true;
    case PType::I32:
        low = -2147483648.0, high = 2147483647.0;
        return true;
    case PType::U32:
        low = 0.0, high = 4294967295.0;
        return true;
    default:
        return false;
    }
}

int typeSize(PType t) {
    switch (t) {
    case PType::I8:
    case PType::U8:
        return 1;
    case PType::I16:
    case PType::U16:
        return 2;
    case PType::I32:
    case PType::U32:
    case PType::F32:
        return 4;
    case PType::F64:
        return 8;
    default:
        return 0;
    }
}

struct Prop {
    std::string name;
    PType type = PType::Bad;
    bool list = false;
};
struct Element {
    std::string name;
    long long count = 0;
    std::vector<Prop> props;
};

double readBinary(const char* p, PType t) {
    switch (t) {
    case PType::I8: {
        std::int8_t v;
        std::memcpy(&v, p, 1);
        return v;
    }
    case PType::U8: {
        std::uint8_t v;
        std::memcpy(&v, p, 1);
        return v;
    }
    case PType::I16: {
        std::int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case PType::U16: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case PType::I32: {
        std::int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case PType::U32: {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case PType::F32: {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case PType::F64: {
        double v;
        std::memcpy(&v, p, 8);
        return v;
    }
    default:
        return 0.0;
    }
}

// The bytes of a PLY file, read in pieces as the parser asks for them: point files reach
// gigabytes, and holding one whole beside the points made of it doubled the memory a scene
// needs.
class PlySource {
public:
    // Lines longer than this are no PLY header or vertex line: refusing them keeps a file
    // without line ends (a sparse or binary file named by mistake) from being read whole.
    static constexpr std::size_t kMaxLine = 65536;

    // total: the input's size in bytes, or -1 when it is not known.
    PlySource(std::istream& in, long long total) : in_(in), total_(total) {}

    // The next line without its end ("\n" or "\r\n"). False at the end of the input or on a
    // line longer than kMaxLine (then tooLong() is true).
    bool line(std::string& out) {
        if (!in_.good())
            return false;
        in_.getline(buf_, sizeof buf_);
        std::streamsize n = in_.gcount();
        if (in_.fail()) {
            // getline fails when it filled the buffer and found no line end, or
            // when it extracted nothing at all (the end of the input).
            if (n >= static_cast<std::streamsize>(sizeof buf_) - 1) {
                tooLong_ = true;
                return false;
            }
            if (n == 0)
                return false;
        }
        consumed_ += n;
        out.assign(buf_);
        if (!out.empty() && out.back() == '\r')
            out.pop_back();
        if (out.size() > kMaxLine) {
            tooLong_ = true;
            return false;
        }
        return true;
    }
    // Up to n bytes; fewer only at the end of the input. Answers how many.
    std::size_t read(char* dst, std::size_t n) {
        in_.read(dst, static_cast<std::streamsize>(n));
        consumed_ += in_.gcount();
        return static_cast<std::size_t>(in_.gcount());
    }
    // Bytes not yet read, or -1 when the size is not known.
    long long remaining() const { return total_ < 0 ? -1 : std::max(0LL, total_ - consumed_); }
    bool tooLong() const { return tooLong_; }
    bool bad() const { return in_.bad(); }

private:
    std::istream& in_;
    long long total_;
    long long consumed_ = 0;
    bool tooLong_ = false;
    char buf_[kMaxLine + 2]; // a "\r" and the terminating zero beside the longest line
};

PointSet parseSource(PlySource& src, const std::string& name);

} // namespace

PointRecord PointSet::at(std::size_t i) const {
    PointRecord r;
    r.position = positions[i];
    if (hasVelocity)
        r.velocity = velocities[i];
    if (hasRadius)
        r.radius = radii[i];
    if (hasColor)
        r.color = colors[i];
    r.id = hasId ? ids[i] : static_cast<int>(i);
    if (hasAge)
        r.age = ages[i];
    return r;
}

void PointSet::push_back(const PointRecord& r) {
    positions.push_back(r.position);
    if (hasVelocity)
        velocities.push_back(r.velocity);
    if (hasRadius)
        radii.push_back(r.radius);
    if (hasColor)
        colors.push_back(r.color);
    if (hasId)
        ids.push_back(r.id);
    if (hasAge)
        ages.push_back(r.age);
}

PointSet readPly(const std::string& path) {
    // Only regular files: a device such as /dev/zero would be read without end, a pipe or a
    // terminal would wait for ever.
    std::error_code ec;
    auto st = std::filesystem::status(path, ec);
    if (std::filesystem::exists(st) && !std::filesystem::is_regular_file(st))
        throw BadInput(path + ": cannot read the point file: not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw BadInput(path + ": cannot open the point file: " + std::strerror(errno));
    std::error_code sizeErr;
    const auto size = std::filesystem::file_size(path, sizeErr);
    auto src = std::make_unique<PlySource>(
        in, sizeErr ? -1LL : static_cast<long long>(size)); // its line buffer is large
    PointSet out = parseSource(*src, path);
    if (src->bad())
        throw BadInput(path + ": cannot read the point file: " + std::strerror(errno));
    return out;
}

PointSet parsePly(const std::string& bytes, const std::string& name) {
    std::istringstream in(bytes);
    auto src = std::make_unique<PlySource>(in, static_cast<long long>(bytes.size()));
    return parseSource(*src, name);
}

namespace {

void reserveColumns(PointSet& s, std::size_t n) {
    s.positions.reserve(n);
    if (s.hasVelocity)
        s.velocities.reserve(n);
    if (s.hasRadius)
        s.radii.reserve(n);
    if (s.hasColor)
        s.colors.reserve(n);
    if (s.hasId)
        s.ids.reserve(n);
    if (s.hasAge)
        s.ages.reserve(n);
}

PointSet parseSource(PlySource& src, const std::string& name) {
    int line = 0;
    auto nextLine = [&](std::string& out) {
        if (!src.line(out)) {
            if (src.tooLong() && line == 0)
                throw BadInput(name + ": not a PLY file (it must start with \"ply\")");
            if (src.tooLong())
                throw BadInput(name + ":" + std::to_string(line + 1) + ": a line longer than " +
                               std::to_string(PlySource::kMaxLine) +
                               " bytes (is this a PLY file?)");
            if (src.bad())
                throw BadInput(name + ": cannot read the point file: " + std::strerror(errno));
            return false;
        }
        ++line;
        return true;
    };
    auto fail = [&](const std::string& what) -> BadInput {
        return BadInput(name + ":" + std::to_string(line) + ": " + what);
    };
    std::string l;
    if (!nextLine(l) || l != "ply")
        throw BadInput(name + ": not a PLY file (it must start with \"ply\")");
    bool binary = false, sawFormat = false;
    std::vector<Element> elements;
    for (;;) {
        if (!nextLine(l))
            throw fail("the header has no end_header line");
        std::istringstream ss(l);
        std::string kw;
        ss >> kw;
        if (kw.empty() || kw == "comment" || kw == "obj_info")
            continue;
        if (kw == "end_header")
            break;
        if (kw == "format") {
            std::string f, v;
            ss >> f >> v;
            if (f == "ascii")
                binary = false;
            else if (f == "binary_little_endian")
                binary = true;
            else
                throw fail("unsupported PLY format \"" + f +
                           "\" (expected ascii or binary_little_endian)");
            sawFormat = true;
        } else if (kw == "element") {
            Element e;
            ss >> e.name >> e.count;
            if (!ss || e.count < 0)
                throw fail("malformed element line");
            elements.push_back(e);
        } else if (kw == "property") {
            if (elements.empty())
                throw fail("property before any element");
            Prop p;
            std::string t;
            ss >> t;
            if (t == "list") {
                std::string ct, it;
                ss >> ct >> it >> p.name;
                p.list = true;
                p.type = typeFromName(it);
            } else {
                p.type = typeFromName(t);
                ss >> p.name;
            }
            if (p.type == PType::Bad || p.name.empty())
                throw fail("unknown property type in \"" + l + "\"");
            for (const Prop& q : elements.back().props)
                if (q.name == p.name)
                    throw fail("property \"" + p.name + "\" named twice in element \"" +
                               elements.back().name + "\"");
            elements.back().props.push_back(p);
        } else {
            throw fail("unexpected header line \"" + l +
                       "\" (expected format, element, property, comment or end_header)");
        }
    }
    if (!sawFormat)
        throw BadInput(name + ": the PLY header has no format line");
    // The vertices must come first: what stands before them could only be skipped by parsing it.
    if (elements.empty() || elements.front().name != "vertex")
        throw BadInput(name + ": expected the first element of the PLY file to be \"vertex\"");
    const Element& ve = elements.front();
    PointSet out;
    int ix = -1, iy = -1, iz = -1, ir = -1, ivx = -1, ivy = -1, ivz = -1, ired = -1, igreen = -1,
        iblue = -1, iid = -1, iage = -1;
    for (std::size_t i = 0; i < ve.props.size(); ++i) {
        const Prop& p = ve.props[i];
        if (p.list)
            throw BadInput(name + ": vertex property \"" + p.name +
                           "\" is a list; expected scalars");
        int k = static_cast<int>(i);
        const std::string& n = p.name;
        if (n == "x")
            ix = k;
        else if (n == "y")
            iy = k;
        else if (n == "z")
            iz = k;
        else if (n == "radius")
            ir = k;
        else if (n == "vx")
            ivx = k;
        else if (n == "vy")
            ivy = k;
        else if (n == "vz")
            ivz = k;
        else if (n == "red" || n == "r")
            ired = k;
        else if (n == "green" || n == "g")
            igreen = k;
        else if (n == "blue" || n == "b")
            iblue = k;
        else if (n == "id")
            iid = k;
        else if (n == "age")
            iage = k;
    }
    if (ix < 0 || iy < 0 || iz < 0)
        throw BadInput(name + ": the vertex element needs x, y and z properties");
    out.hasRadius = ir >= 0;
    out.hasVelocity = ivx >= 0 && ivy >= 0 && ivz >= 0;
    out.hasColor = ired >= 0 && igreen >= 0 && iblue >= 0;
    out.hasId = iid >= 0;
    out.hasAge = iage >= 0;
    const std::size_t np = ve.props.size();
    std::vector<double> v(np);
    auto colorOf = [&](int idx) {
        double c = v[static_cast<std::size_t>(idx)];
        PType t = ve.props[static_cast<std::size_t>(idx)].type;
        return static_cast<float>(t == PType::F32 || t == PType::F64 ? c : c / 255.0);
    };
    std::size_t recSize = 0;
    for (const Prop& p : ve.props)
        recSize += static_cast<std::size_t>(typeSize(p.type));
    // The header's count is only a claim: a count the rest of the file cannot hold (a binary
    // record of recSize bytes, a text line of at least two bytes per number) fails here, before
    // anything is allocated for it. Of an input of unknown size only a little is reserved.
    const long long rest = src.remaining();
    if (rest >= 0) {
        const long long fits = binary ? rest / static_cast<long long>(recSize)
                                      : (rest + 1) / (2 * static_cast<long long>(np));
        if (ve.count > fits)
            throw BadInput(name + ": the file ends " + (binary ? "inside" : "before") + " vertex " +
                           std::to_string(fits) + " of " + std::to_string(ve.count) +
                           " (the header claims " + std::to_string(ve.count) + " vertices; the " +
                           std::to_string(rest) + " bytes after it hold at most " +
                           std::to_string(fits) + ")");
        reserveColumns(out, static_cast<std::size_t>(ve.count));
    } else {
        reserveColumns(out, static_cast<std::size_t>(std::min(ve.count, 65536LL)));
    }
    // Binary records are read a block at a time: one stream read per record cost more than
    // decoding it.
    const std::size_t perBlock = std::max<std::size_t>(1, (std::size_t{1} << 18) / recSize);
    std::vector<char> block(binary ? perBlock * recSize : 0);
    std::size_t inBlock = 0, used = 0;
    for (long long k = 0; k < ve.count; ++k) {
        if (binary) {
            if (used == inBlock) {
                const auto want = static_cast<std::size_t>(
                    std::min<long long>(ve.count - k, static_cast<long long>(perBlock)));
                const std::size_t got = src.read(block.data(), want * recSize);
                if (got < want * recSize)
                    throw BadInput(name + ": the file ends inside vertex " +
                                   std::to_string(k + static_cast<long long>(got / recSize)) +
                                   " of " + std::to_string(ve.count));
                inBlock = want;
                used = 0;
            }
            const char* p = block.data() + used * recSize;
            ++used;
            for (std::size_t i = 0; i < np; ++i) {
                v[i] = readBinary(p, ve.props[i].type);
                p += typeSize(ve.props[i].type);
            }
        } else {
            if (!nextLine(l))
                throw BadInput(name + ": the file ends before vertex " + std::to_string(k) +
                               " of " + std::to_string(ve.count));
            const char* at = l.c_str();
            for (std::size_t i = 0; i < np; ++i) {
                while (*at == ' ' || *at == '\t' || *at == '\r')
                    ++at;
                if (*at == '\0')
                    throw fail("expected " + std::to_string(np) + " numbers for vertex " +
                               std::to_string(k));
                const Prop& pr = ve.props[i];
                const char* end = at;
                while (*end != '\0' && *end != ' ' && *end != '\t' && *end != '\r')
                    ++end;
                const std::string token(at, end);
                const std::string where =
                    "vertex " + std::to_string(k) + ", property \"" + pr.name + "\": ";
                char* stop = nullptr;
                v[i] = std::strtod(token.c_str(), &stop);
                if (token.empty() || *stop != '\0')
                    throw fail(where + "\"" + token + "\" is not a number");
                if (!std::isfinite(v[i]))
                    throw fail(where + token + " is not a finite number");
                double low = 0.0, high = 0.0;
                if (integerRange(pr.type, low, high) &&
                    (v[i] != std::floor(v[i]) || v[i] < low || v[i] > high))
                    throw fail(where + token + " is not a whole number from " +
                               std::to_string(static_cast<long long>(low)) + " to " +
                               std::to_string(static_cast<long long>(high)));
                at = end;
            }
        }
        PointRecord r;
        r.position =
            Point3(static_cast<float>(v[ix]), static_cast<float>(v[iy]), static_cast<float>(v[iz]));
        if (out.hasVelocity)
            r.velocity = Point3(static_cast<float>(v[ivx]), static_cast<float>(v[ivy]),
                                static_cast<float>(v[ivz]));
        if (out.hasRadius)
            r.radius = static_cast<float>(v[ir]);
        if (out.hasColor) {
            r.color = Color(colorOf(ired), colorOf(igreen), colorOf(iblue));
            if (!(r.color.r >= 0.0f && r.color.g >= 0.0f && r.color.b >= 0.0f))
                throw BadInput(name + ": vertex " + std::to_string(k) +
                               ": a colour component below 0 or not a number");
        }
        if (out.hasId && !(v[iid] >= -2147483648.0 && v[iid] < 2147483648.0))
            throw BadInput(name + ": vertex " + std::to_string(k) +
                           ": the id is not a number in the int range");
        r.id = out.hasId ? static_cast<int>(v[iid]) : static_cast<int>(k);
        if (out.hasAge)
            r.age = static_cast<float>(v[iage]);
        out.push_back(r);
    }
    return out;
}

} // namespace

} // namespace velquin::renderer
