#include "renderer/PointFile.h"

#include "renderer/Errors.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
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

} // namespace

PointSet readPly(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw BadInput(path + ": cannot open the point file: " + std::strerror(errno));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw BadInput(path + ": cannot read the point file: " + std::strerror(errno));
    return parsePly(bytes, path);
}

PointSet parsePly(const std::string& bytes, const std::string& name) {
    std::size_t pos = 0;
    int line = 0;
    auto nextLine = [&](std::string& out) {
        if (pos >= bytes.size())
            return false;
        std::size_t e = bytes.find('\n', pos);
        if (e == std::string::npos)
            e = bytes.size();
        out = bytes.substr(pos, e - pos);
        if (!out.empty() && out.back() == '\r')
            out.pop_back();
        pos = e + 1;
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
            elements.back().props.push_back(p);
        } else {
            throw fail("unexpected header line \"" + l + "\"");
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
    out.points.reserve(static_cast<std::size_t>(ve.count));
    std::size_t recSize = 0;
    for (const Prop& p : ve.props)
        recSize += static_cast<std::size_t>(typeSize(p.type));
    for (long long k = 0; k < ve.count; ++k) {
        if (binary) {
            if (bytes.size() - std::min(pos, bytes.size()) < recSize)
                throw BadInput(name + ": the file ends inside vertex " + std::to_string(k) +
                               " of " + std::to_string(ve.count));
            const char* p = bytes.data() + pos;
            for (std::size_t i = 0; i < np; ++i) {
                v[i] = readBinary(p, ve.props[i].type);
                p += typeSize(ve.props[i].type);
            }
            pos += recSize;
        } else {
            if (!nextLine(l))
                throw BadInput(name + ": the file ends before vertex " + std::to_string(k) +
                               " of " + std::to_string(ve.count));
            std::istringstream ss(l);
            for (std::size_t i = 0; i < np; ++i)
                if (!(ss >> v[i]))
                    throw fail("expected " + std::to_string(np) + " numbers for vertex " +
                               std::to_string(k));
        }
        PointRecord r;
        r.position =
            Point3(static_cast<float>(v[ix]), static_cast<float>(v[iy]), static_cast<float>(v[iz]));
        if (out.hasVelocity)
            r.velocity = Point3(static_cast<float>(v[ivx]), static_cast<float>(v[ivy]),
                                static_cast<float>(v[ivz]));
        if (out.hasRadius)
            r.radius = static_cast<float>(v[ir]);
        if (out.hasColor)
            r.color = Color(colorOf(ired), colorOf(igreen), colorOf(iblue));
        r.id = out.hasId ? static_cast<int>(v[iid]) : static_cast<int>(k);
        if (out.hasAge)
            r.age = static_cast<float>(v[iage]);
        out.points.push_back(r);
    }
    return out;
}

} // namespace velquin::renderer
