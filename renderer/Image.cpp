#include "renderer/Image.h"

#include "renderer/FileFormats.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace velquin::renderer {
namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// The temporary file being written, for removePendingImageFile. A fixed buffer and a lock-free
// flag, because a signal handler may read them while the writing thread goes on.
char g_pendingName[4096];
std::atomic<bool> g_pendingSet{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// A temporary file beside `path`, removed on destruction unless it was renamed into place.
class TempFile {
public:
    explicit TempFile(const std::string& path) : dest_(path) {
        std::filesystem::path p(path);
        std::filesystem::path dir = p.parent_path();
        // ".NAME.tmpXXXXXX", with NAME cut short where the whole would pass the longest name a
        // folder takes (a valid output name may be up to that long itself).
        constexpr std::size_t kLongestName = 255, kAdded = 11;
        std::string base = p.filename().string();
        if (base.size() + kAdded > kLongestName)
            base.resize(kLongestName - kAdded);
        std::string name = "." + base + ".tmpXXXXXX";
        std::string tmpl = (dir.empty() ? std::filesystem::path(name) : dir / name).string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        int fd = ::mkstemp(buf.data());
        if (fd < 0)
            throw ImageError(path + ": cannot write the image: " + std::strerror(errno));
        ::close(fd);
        tmp_ = buf.data();
        if (tmp_.size() < sizeof g_pendingName) {
            std::memcpy(g_pendingName, tmp_.c_str(), tmp_.size() + 1);
            g_pendingSet.store(true);
        }
    }
    ~TempFile() {
        if (!tmp_.empty())
            std::remove(tmp_.c_str());
        g_pendingSet.store(false); // after: a signal in between finds the file still named
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& name() const { return tmp_; }
    void commit() {
        // mkstemp makes the file private to the user; an image is an ordinary file, and one
        // that replaces another keeps the permissions that one had (a read-only file stays so).
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode_t mode = 0666 & ~mask;
        struct stat old {};
        if (::stat(dest_.c_str(), &old) == 0 && S_ISREG(old.st_mode))
            mode = old.st_mode & 07777;
        std::filesystem::permissions(tmp_, static_cast<std::filesystem::perms>(mode),
                                     std::filesystem::perm_options::replace);
        if (std::rename(tmp_.c_str(), dest_.c_str()) != 0)
            throw ImageError(dest_ + ": cannot write the image: " + std::strerror(errno));
        // Only now: a handler that removes the old name after the rename finds nothing there.
        g_pendingSet.store(false);
        tmp_.clear();
    }

private:
    std::string dest_, tmp_;
};

void writeExrFile(const Image& image, const std::string& file, const std::string& shownPath) {
    std::string error;
    bool ok = false;
    try {
        ok = writeExr(file, image.width, image.height, image.rgba.data(), error);
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    if (ok)
        return;
    // The library names the file it writes, which is the temporary one: the user knows the
    // output by its own name.
    for (std::size_t at; (at = error.find(file)) != std::string::npos;)
        error.replace(at, file.size(), shownPath);
    throw ImageError(shownPath + ": cannot write the image: " + error);
}

} // namespace

bool imageFormatFor(const std::string& path, ImageFormat& format) {
    std::string ext = lowerExtension(path);
    if (ext == ".png") {
        format = ImageFormat::Png;
        return true;
    }
    if (ext == ".exr") {
        format = ImageFormat::Exr;
        return true;
    }
    return false;
}

namespace {

// The conversion itself, one pow a channel. Every path below gives exactly its bytes.
std::uint8_t srgb8Direct(float v) {
    double s =
        v <= 0.0031308f ? 12.92 * v : 1.055 * std::pow(static_cast<double>(v), 1.0 / 2.4) - 0.055;
    long q = std::lround(s * 255.0);
    return static_cast<std::uint8_t>(std::clamp(q, 0L, 255L));
}

// srgb8Direct never decreases as v grows over [0, 1] (each step rounds a monotone value), so it
// is fully told by the least float reaching each code. A float's bits order the same way as its
// value for v >= 0, which lets a binary search over bits find every such least float exactly,
// and the top bits of v pick the code of its range's first float, from which at most a few
// thresholds remain to pass.
class SrgbTable {
public:
    SrgbTable() {
        const std::uint32_t one = bitsOf(1.0f);
        for (int k = 1; k <= 255; ++k) {
            std::uint32_t lo = 0, hi = one; // srgb8Direct(1) == 255 >= k
            while (lo < hi) {
                std::uint32_t mid = lo + (hi - lo) / 2;
                if (srgb8Direct(floatOf(mid)) >= k)
                    hi = mid;
                else
                    lo = mid + 1;
            }
            least_[k] = lo;
        }
        least_[0] = 0;
        least_[256] = one + 1; // past every input
        int k = 0;
        for (std::uint32_t r = 0; r <= (one >> kShift); ++r) {
            while (least_[k + 1] <= (r << kShift))
                ++k;
            start_[r] = static_cast<std::uint8_t>(k);
        }
    }
    // v already clamped to [0, 1].
    std::uint8_t operator()(float v) const {
        std::uint32_t b = bitsOf(v);
        int k = start_[b >> kShift];
        while (least_[k + 1] <= b)
            ++k;
        return static_cast<std::uint8_t>(k);
    }

private:
    static constexpr int kShift = 15;
    static std::uint32_t bitsOf(float f) {
        std::uint32_t b;
        std::memcpy(&b, &f, sizeof b);
        return b;
    }
    static float floatOf(std::uint32_t b) {
        float f;
        std::memcpy(&f, &b, sizeof f);
        return f;
    }
    std::uint32_t least_[257];
    std::uint8_t start_[(0x3F800000u >> kShift) + 1];
};

const SrgbTable& srgbTable() {
    static const SrgbTable table;
    return table;
}

float clampUnit(float linear) {
    float v = linear;
    if (!(v > 0.0f))
        v = 0.0f;
    if (v > 1.0f)
        v = 1.0f;
    return v;
}

} // namespace

std::uint8_t toSrgb8(float linear) {
    return srgbTable()(clampUnit(linear));
}

std::uint8_t toSrgb8Direct(float linear) {
    return srgb8Direct(clampUnit(linear));
}

namespace {

// Pixels of linear RGBA floats as 8-bit RGBA, colours in sRGB.
void toPng8Pixels(const float* rgba, std::size_t pixels, std::uint8_t* out) {
    const SrgbTable& srgb = srgbTable();
    for (std::size_t i = 0; i < pixels * 4; i += 4) {
        for (std::size_t c = 0; c < 3; ++c)
            out[i + c] = srgb(clampUnit(rgba[i + c]));
        // Alpha is stored linearly, as PNG defines it; a * 255 is a float in [0, 255], so adding
        // a half in double is exact and the cut rounds halves up, as lround would.
        float a = std::clamp(rgba[i + 3], 0.0f, 1.0f);
        out[i + 3] = static_cast<std::uint8_t>(static_cast<double>(a * 255.0f) + 0.5);
    }
}

} // namespace

std::vector<std::uint8_t> toPng8(const Image& image) {
    const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
    std::vector<std::uint8_t> out(pixels * 4);
    toPng8Pixels(image.rgba.data(), pixels, out.data());
    return out;
}

namespace {

// ---- PNG ----
// The picture is filtered (each row as its difference from the row above, PNG's "Up" filter) and
// deflated in pieces of a fixed number of rows, so that several threads can compress at once.
// Each piece is a raw deflate stream primed with the 32 KiB of data before it and ended on a byte
// boundary (a sync flush), and the last one is finished; laid end to end behind one zlib header,
// with the data's checksum after them, they are one zlib stream. The pieces do not depend on the
// thread count, so neither do the file's bytes.

constexpr std::size_t kPngPieceBytes = std::size_t{1} << 17; // filtered bytes a piece aims at
constexpr std::size_t kDeflateWindow = std::size_t{1} << 15;
constexpr std::size_t kIdatBytes = std::size_t{1} << 20; // largest IDAT chunk written
// libpng's defaults (level 6, every filter tried on every row) took three times as long on
// renders as this and made larger files.
constexpr int kPngLevel = 4;

std::size_t pngRowBytes(int width) {
    return 1 + static_cast<std::size_t>(width) * 4;
}

// Rows [y0, y1) of the picture in 8-bit RGBA, each behind its filter byte as its difference from
// the row above (zero above the first). `rows` holds two rows of 8-bit pixels.
void filterUp(const Image& image, int y0, int y1, std::uint8_t* rows, std::uint8_t* out) {
    const std::size_t w = static_cast<std::size_t>(image.width), n = w * 4;
    std::uint8_t* above = rows;
    std::uint8_t* row = rows + n;
    if (y0 == 0)
        std::memset(above, 0, n);
    else
        toPng8Pixels(image.pixel(0, y0 - 1), w, above);
    for (int y = y0; y < y1; ++y) {
        toPng8Pixels(image.pixel(0, y), w, row);
        std::uint8_t* o = out + static_cast<std::size_t>(y - y0) * (n + 1);
        o[0] = 2; // Up
        for (std::size_t i = 0; i < n; ++i)
            o[1 + i] = static_cast<std::uint8_t>(row[i] - above[i]);
        std::swap(above, row);
    }
}

struct DeflatePiece {
    std::size_t begin = 0, end = 0; // range of the filtered data
    bool last = false;
    std::vector<std::uint8_t> out;
    uLong adler = 1;
    bool ok = false;
};

// One piece as raw deflate, primed with the window before it.
void deflatePiece(const std::uint8_t* data, DeflatePiece& piece) {
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (deflateInit2(&z, kPngLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    const std::size_t dict = std::min(piece.begin, kDeflateWindow);
    bool ok = dict == 0 ||
              deflateSetDictionary(&z, data + piece.begin - dict, static_cast<uInt>(dict)) == Z_OK;
    const std::size_t len = piece.end - piece.begin;
    // Room for the worst case and the flush's empty block; grown should it still run short.
    piece.out.resize(deflateBound(&z, static_cast<uLong>(len)) + 16);
    z.next_in = const_cast<Bytef*>(data + piece.begin);
    z.avail_in = static_cast<uInt>(len);
    const int flush = piece.last ? Z_FINISH : Z_SYNC_FLUSH;
    std::size_t used = 0;
    while (ok) {
        z.next_out = piece.out.data() + used;
        z.avail_out = static_cast<uInt>(piece.out.size() - used);
        const int r = deflate(&z, flush);
        used = piece.out.size() - z.avail_out;
        if (r == Z_STREAM_ERROR) {
            ok = false;
        } else if (piece.last ? r == Z_STREAM_END : (z.avail_in == 0 && z.avail_out > 0)) {
            break;
        } else {
            piece.out.resize(piece.out.size() * 2);
        }
    }
    deflateEnd(&z);
    piece.out.resize(used);
    piece.adler = adler32(1, data + piece.begin, static_cast<uInt>(len));
    piece.ok = ok;
}

void putBE32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void putChunk(std::vector<std::uint8_t>& out, const char type[4], const std::uint8_t* data,
              std::size_t len) {
    putBE32(out, static_cast<std::uint32_t>(len));
    const std::size_t at = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + len);
    const uLong crc = crc32(0, out.data() + at, static_cast<uInt>(4 + len));
    putBE32(out, static_cast<std::uint32_t>(crc));
}

// Runs work(i) for i in [0, count) on up to `threads` threads, this one included.
template <class Work> void forEachOnThreads(std::size_t count, int threads, Work&& work) {
    std::atomic<std::size_t> next{0};
    auto loop = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;)
            work(i);
    };
    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min<std::size_t>(
        count > 0 ? count - 1 : 0, threads > 1 ? static_cast<std::size_t>(threads - 1) : 0);
    for (std::size_t k = 0; k < wanted; ++k) {
        try {
            helpers.emplace_back(loop);
        } catch (const std::system_error&) {
            break; // fewer helpers: this thread does the rest
        }
    }
    loop();
    for (std::thread& t : helpers)
        t.join();
}

} // namespace

std::vector<std::uint8_t> encodePng(const Image& image, int threads) {
    const int w = image.width, h = image.height;
    // A row, with its filter byte, must fit zlib's 32-bit lengths.
    if (w <= 0 || h <= 0 || static_cast<std::size_t>(w) > (0x7FFFFFFFu - 1) / 4)
        throw ImageError("cannot encode a " + std::to_string(w) + "x" + std::to_string(h) +
                         " image as PNG");
    const std::size_t rowBytes = pngRowBytes(w);
    std::vector<std::uint8_t> filtered(rowBytes * static_cast<std::size_t>(h));

    const int rowsPerPiece = static_cast<int>(
        std::clamp<std::size_t>(kPngPieceBytes / rowBytes, 1, static_cast<std::size_t>(h)));
    const std::size_t count = (static_cast<std::size_t>(h) + rowsPerPiece - 1) / rowsPerPiece;
    std::vector<DeflatePiece> pieces(count);
    for (std::size_t i = 0; i < count; ++i) {
        const int y0 = static_cast<int>(i) * rowsPerPiece;
        const int y1 = std::min(h, y0 + rowsPerPiece);
        pieces[i].begin = static_cast<std::size_t>(y0) * rowBytes;
        pieces[i].end = static_cast<std::size_t>(y1) * rowBytes;
        pieces[i].last = i + 1 == count;
    }
    forEachOnThreads(count, threads, [&](std::size_t i) {
        const DeflatePiece& p = pieces[i];
        std::vector<std::uint8_t> rows(2 * (rowBytes - 1));
        filterUp(image, static_cast<int>(p.begin / rowBytes), static_cast<int>(p.end / rowBytes),
                 rows.data(), filtered.data() + p.begin);
    });
    // A piece is primed with data before it, so all of it is filtered first.
    forEachOnThreads(count, threads,
                     [&](std::size_t i) { deflatePiece(filtered.data(), pieces[i]); });

    // What is joined is let go of as it goes: a large picture would otherwise be held three
    // times over.
    std::vector<std::uint8_t>().swap(filtered);
    std::size_t compressed = 0;
    for (const DeflatePiece& p : pieces)
        compressed += p.out.size();
    std::vector<std::uint8_t> idat = {0x78, 0x5E}; // deflate, 32 KiB window, "fast" levels
    idat.reserve(2 + compressed + 4);
    uLong adler = 1;
    for (DeflatePiece& p : pieces) {
        if (!p.ok)
            throw ImageError("the PNG encoder failed");
        idat.insert(idat.end(), p.out.begin(), p.out.end());
        std::vector<std::uint8_t>().swap(p.out);
        adler = adler32_combine(adler, p.adler, static_cast<z_off_t>(p.end - p.begin));
    }
    putBE32(idat, static_cast<std::uint32_t>(adler));

    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> png(signature, signature + 8);
    png.reserve(idat.size() + idat.size() / kIdatBytes * 12 + 64);
    std::vector<std::uint8_t> ihdr;
    putBE32(ihdr, static_cast<std::uint32_t>(w));
    putBE32(ihdr, static_cast<std::uint32_t>(h));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA, deflate, adaptive filters, none
    putChunk(png, "IHDR", ihdr.data(), ihdr.size());
    const std::uint8_t intent = 0; // perceptual
    putChunk(png, "sRGB", &intent, 1);
    for (std::size_t at = 0; at < idat.size(); at += kIdatBytes)
        putChunk(png, "IDAT", idat.data() + at, std::min(kIdatBytes, idat.size() - at));
    putChunk(png, "IEND", nullptr, 0);
    return png;
}

namespace {

void writePngFile(const Image& image, const std::string& file, const std::string& shownPath,
                  int threads) {
    std::vector<std::uint8_t> png;
    try {
        png = encodePng(image, threads);
    } catch (const ImageError& e) {
        throw ImageError(shownPath + ": cannot write the image: " + e.what());
    }
    FILE* fp = std::fopen(file.c_str(), "wb");
    if (!fp)
        throw ImageError(shownPath + ": cannot write the image: " + std::strerror(errno));
    const bool written = std::fwrite(png.data(), 1, png.size(), fp) == png.size();
    const int writeErr = errno;
    const int closeErr = std::fclose(fp);
    if (!written || closeErr != 0)
        throw ImageError(shownPath +
                         ": cannot write the image: " + std::strerror(written ? errno : writeErr));
}

} // namespace

void writeImage(const Image& image, const std::string& path, int threads) {
    ImageFormat format;
    if (!imageFormatFor(path, format))
        throw ImageError(path + ": unknown image type: the output must end in .png or .exr");
    if (image.width <= 0 || image.height <= 0)
        throw ImageError(path + ": cannot write an empty image");
    TempFile tmp(path);
    if (format == ImageFormat::Png)
        writePngFile(image, tmp.name(), path, threads);
    else
        writeExrFile(image, tmp.name(), path);
    tmp.commit();
}

void removePendingImageFile() noexcept {
    if (g_pendingSet.load())
        ::unlink(g_pendingName);
}

std::vector<std::uint8_t> readPng8(const std::string& path, int& width, int& height) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        throw ImageError(path + ": cannot read the PNG: " + img.message);
    img.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> out(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, out.data(), 0, nullptr)) {
        png_image_free(&img);
        throw ImageError(path + ": cannot read the PNG: " + img.message);
    }
    width = static_cast<int>(img.width);
    height = static_cast<int>(img.height);
    return out;
}

} // namespace velquin::renderer
