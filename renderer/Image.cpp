#include "renderer/Image.h"

#include <OpenEXR/ImfRgbaFile.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>

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
        std::string name = "." + p.filename().string() + ".tmpXXXXXX";
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
        // mkstemp makes the file private to the user; an image is an ordinary file.
        mode_t mask = ::umask(0);
        ::umask(mask);
        std::filesystem::permissions(tmp_, static_cast<std::filesystem::perms>(0666 & ~mask),
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

// The libpng part alone, with nothing but plain values in the frame that setjmp saves.
bool encodePng(FILE* fp, int width, int height, png_bytep* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, fp);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    // libpng's defaults (level 6, every filter tried on every row, "filtered" strategy) took three
    // times as long on renders as this and made larger files.
    png_set_compression_level(png, 4);
    png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

void writePngFile(const Image& image, const std::string& file, const std::string& shownPath) {
    std::vector<std::uint8_t> bytes = toPng8(image);
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y)
        rows[static_cast<std::size_t>(y)] =
            bytes.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) * 4;
    FILE* fp = std::fopen(file.c_str(), "wb");
    if (!fp)
        throw ImageError(shownPath + ": cannot write the image: " + std::strerror(errno));
    bool ok = encodePng(fp, image.width, image.height, rows.data());
    bool bad = std::ferror(fp) != 0;
    int closeErr = std::fclose(fp);
    if (!ok)
        throw ImageError(shownPath + ": cannot write the image: PNG encoder failed");
    if (closeErr != 0 || bad)
        throw ImageError(shownPath + ": cannot write the image: " + std::strerror(errno));
}

void writeExrFile(const Image& image, const std::string& file, const std::string& shownPath) {
    try {
        std::vector<Imf::Rgba> px(static_cast<std::size_t>(image.width) * image.height);
        for (std::size_t i = 0; i < px.size(); ++i) {
            const float* s = &image.rgba[i * 4];
            px[i] = Imf::Rgba(s[0], s[1], s[2], s[3]);
        }
        Imf::RgbaOutputFile out(file.c_str(), image.width, image.height, Imf::WRITE_RGBA);
        out.setFrameBuffer(px.data(), 1, static_cast<std::size_t>(image.width));
        out.writePixels(image.height);
    } catch (const std::exception& e) {
        throw ImageError(shownPath + ": cannot write the image: " + e.what());
    }
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

std::vector<std::uint8_t> toPng8(const Image& image) {
    const SrgbTable& srgb = srgbTable();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(image.width) * image.height * 4);
    for (std::size_t i = 0; i < out.size(); i += 4) {
        for (int c = 0; c < 3; ++c)
            out[i + c] = srgb(clampUnit(image.rgba[i + c]));
        // Alpha is stored linearly, as PNG defines it; a * 255 is a float in [0, 255], so adding
        // a half in double is exact and the cut rounds halves up, as lround would.
        float a = std::clamp(image.rgba[i + 3], 0.0f, 1.0f);
        out[i + 3] = static_cast<std::uint8_t>(static_cast<double>(a * 255.0f) + 0.5);
    }
    return out;
}

void writeImage(const Image& image, const std::string& path) {
    ImageFormat format;
    if (!imageFormatFor(path, format))
        throw ImageError(path + ": unknown image type: the output must end in .png or .exr");
    if (image.width <= 0 || image.height <= 0)
        throw ImageError(path + ": cannot write an empty image");
    TempFile tmp(path);
    if (format == ImageFormat::Png)
        writePngFile(image, tmp.name(), path);
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
