#include "renderer/Image.h"

#include <gtest/gtest.h>

#include <OpenEXR/ImfRgbaFile.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <unistd.h>

namespace velquin::renderer {
namespace {

namespace fs = std::filesystem;

fs::path scratch(const std::string& name) {
    fs::path d = fs::temp_directory_path() / ("velquin_image_test_" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d / name;
}

TEST(ImageTest, SrgbEncodingClampsAndRounds) {
    EXPECT_EQ(toSrgb8(0.0f), 0);
    EXPECT_EQ(toSrgb8(-1.0f), 0);
    EXPECT_EQ(toSrgb8(1.0f), 255);
    EXPECT_EQ(toSrgb8(7.0f), 255);
    EXPECT_EQ(toSrgb8(0.5f), 188); // 1.055 * 0.5^(1/2.4) - 0.055 = 0.7354
    EXPECT_EQ(toSrgb8(0.002f), 7); // linear segment: 12.92 * 0.002 * 255 = 6.59
    EXPECT_EQ(toSrgb8(std::numeric_limits<float>::quiet_NaN()), 0);
}

// The table must give the formula's byte for every float; all of [0, 1] takes seconds, so every
// 61st float is checked, with each code's first float and the one just below it.
TEST(ImageTest, SrgbTableMatchesTheFormula) {
    const std::uint32_t one = 0x3F800000u;
    auto asFloat = [](std::uint32_t b) {
        float f;
        std::memcpy(&f, &b, sizeof f);
        return f;
    };
    long long mismatches = 0;
    for (std::uint32_t b = 0; b <= one; b += 61)
        mismatches += toSrgb8(asFloat(b)) != toSrgb8Direct(asFloat(b));
    EXPECT_EQ(mismatches, 0);
    // Each code's least float: bisect on the formula, then both neighbours through the table.
    for (int k = 1; k <= 255; ++k) {
        std::uint32_t lo = 0, hi = one;
        while (lo < hi) {
            std::uint32_t mid = lo + (hi - lo) / 2;
            if (toSrgb8Direct(asFloat(mid)) >= k)
                hi = mid;
            else
                lo = mid + 1;
        }
        EXPECT_EQ(toSrgb8(asFloat(lo)), toSrgb8Direct(asFloat(lo))) << "code " << k;
        EXPECT_EQ(toSrgb8(asFloat(lo - 1)), toSrgb8Direct(asFloat(lo - 1))) << "code " << k;
        EXPECT_GE(toSrgb8(asFloat(lo)), k);
        EXPECT_LT(toSrgb8(asFloat(lo - 1)), k);
    }
    EXPECT_EQ(toSrgb8(asFloat(one + 1)), 255); // just above 1
    EXPECT_EQ(toSrgb8(std::numeric_limits<float>::infinity()), 255);
    EXPECT_EQ(toSrgb8(-std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(toSrgb8(std::numeric_limits<float>::denorm_min()), 0);
}

// Alpha is a rounded a * 255, halves away from zero; near-halves and halves included.
TEST(ImageTest, PngAlphaRoundsToNearest) {
    std::vector<float> alphas = {0.0f, 1.0f, 1.5f, -0.25f, 0.999f};
    for (int k = 0; k < 255; ++k) {
        float half = (static_cast<float>(k) + 0.5f) / 255.0f;
        alphas.push_back(half);
        alphas.push_back(std::nextafter(half, 0.0f));
        alphas.push_back(std::nextafter(half, 1.0f));
    }
    Image img(static_cast<int>(alphas.size()), 1);
    for (std::size_t x = 0; x < alphas.size(); ++x)
        img.pixel(static_cast<int>(x), 0)[3] = alphas[x];
    std::vector<std::uint8_t> px = toPng8(img);
    for (std::size_t x = 0; x < alphas.size(); ++x) {
        float a = std::clamp(alphas[x], 0.0f, 1.0f);
        EXPECT_EQ(px[x * 4 + 3], std::lround(a * 255.0f)) << alphas[x];
    }
}

TEST(ImageTest, FormatFollowsTheExtension) {
    ImageFormat f;
    EXPECT_TRUE(imageFormatFor("a/b.PNG", f));
    EXPECT_EQ(f, ImageFormat::Png);
    EXPECT_TRUE(imageFormatFor("x.exr", f));
    EXPECT_EQ(f, ImageFormat::Exr);
    EXPECT_FALSE(imageFormatFor("x.jpg", f));
    EXPECT_FALSE(imageFormatFor("png", f));
}

TEST(ImageTest, PngRoundTripKeepsEveryByte) {
    Image img(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            float* p = img.pixel(x, y);
            p[0] = 0.1f * x;
            p[1] = 0.3f * y;
            p[2] = 1.0f;
            p[3] = x == 0 ? 0.0f : 1.0f;
        }
    fs::path path = scratch("round.png");
    writeImage(img, path.string());
    int w = 0, h = 0;
    std::vector<std::uint8_t> back = readPng8(path.string(), w, h);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(back, toPng8(img));
    // Row 0 is the top: pixel (2, 1) is the last one written.
    EXPECT_EQ(back[(1 * 3 + 2) * 4 + 0], toSrgb8(0.2f));
    EXPECT_EQ(back[(1 * 3 + 2) * 4 + 1], toSrgb8(0.3f));
    EXPECT_EQ(back[0 * 4 + 3], 0);
}

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

// The PNG's chunks checked one by one (length, type, CRC), and its image data inflated as one
// zlib stream (which checks its Adler-32); returns the inflated bytes.
std::vector<std::uint8_t> inflatedPng(const std::vector<std::uint8_t>& png, int w, int h) {
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_TRUE(png.size() > 8 && std::memcmp(png.data(), signature, 8) == 0);
    std::vector<std::uint8_t> idat;
    std::vector<std::string> types;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t len = be32(&png[at]);
        EXPECT_LE(at + 12 + len, png.size());
        if (at + 12 + len > png.size())
            break;
        const std::string type(png.begin() + static_cast<std::ptrdiff_t>(at) + 4,
                               png.begin() + static_cast<std::ptrdiff_t>(at) + 8);
        const std::uint8_t* data = &png[at + 8];
        EXPECT_EQ(crc32(0, &png[at + 4], static_cast<uInt>(len + 4)), be32(data + len)) << type;
        if (type == "IHDR") {
            EXPECT_EQ(len, 13u);
            EXPECT_EQ(be32(data), static_cast<std::uint32_t>(w));
            EXPECT_EQ(be32(data + 4), static_cast<std::uint32_t>(h));
            EXPECT_EQ(std::vector<std::uint8_t>(data + 8, data + 13),
                      (std::vector<std::uint8_t>{8, 6, 0, 0, 0}));
        }
        if (type == "IDAT")
            idat.insert(idat.end(), data, data + len);
        if (types.empty() || types.back() != type)
            types.push_back(type);
        at += 12 + len;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "sRGB", "IDAT", "IEND"}));
    const std::size_t rowBytes = 1 + static_cast<std::size_t>(w) * 4;
    std::vector<std::uint8_t> raw(rowBytes * static_cast<std::size_t>(h) + 1);
    uLongf got = static_cast<uLongf>(raw.size());
    EXPECT_EQ(uncompress(raw.data(), &got, idat.data(), static_cast<uLong>(idat.size())), Z_OK);
    raw.resize(got);
    return raw;
}

// Every row Up-filtered, as written out here from the 8-bit pixels.
std::vector<std::uint8_t> upFiltered(const std::vector<std::uint8_t>& px, int w, int h) {
    const std::size_t n = static_cast<std::size_t>(w) * 4;
    std::vector<std::uint8_t> out;
    for (int y = 0; y < h; ++y) {
        out.push_back(2);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t above = y > 0 ? px[(static_cast<std::size_t>(y) - 1) * n + i] : 0;
            out.push_back(
                static_cast<std::uint8_t>(px[static_cast<std::size_t>(y) * n + i] - above));
        }
    }
    return out;
}

// The picture is compressed in pieces of rows on several threads and joined into one zlib
// stream: the file must be a sound PNG holding every pixel, with the same bytes for any thread
// count. The sizes give one piece, several, pieces of one row, and data that does not compress.
TEST(ImageTest, PngPiecesMakeOneSoundStreamWhateverTheThreads) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-0.1f, 1.1f);
    struct Case {
        int w, h;
        bool noise;
    };
    for (const Case c : {Case{1, 1, true}, Case{3, 2, false}, Case{2000, 70, true},
                         Case{40000, 3, true}, Case{37, 3000, false}, Case{512, 512, false}}) {
        Image img(c.w, c.h);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                for (int k = 0; k < 4; ++k)
                    img.pixel(x, y)[k] =
                        c.noise ? u(rng) : 0.001f * static_cast<float>((x + 3 * y + k) % 997);
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const std::vector<std::uint8_t> one = encodePng(img, 1);
        EXPECT_EQ(inflatedPng(one, c.w, c.h), upFiltered(toPng8(img), c.w, c.h));
        for (int threads : {2, 3, 8})
            EXPECT_TRUE(encodePng(img, threads) == one) << threads << " threads";
    }
    // And libpng reads back what was written through the file on several threads.
    Image img(700, 300);
    for (std::size_t i = 0; i < img.rgba.size(); ++i)
        img.rgba[i] = u(rng);
    fs::path path = scratch("threads.png");
    writeImage(img, path.string(), 3);
    int w = 0, h = 0;
    EXPECT_EQ(readPng8(path.string(), w, h), toPng8(img));
}

TEST(ImageTest, ExrIsLinearWithAlpha) {
    Image img(2, 1);
    img.pixel(0, 0)[0] = 2.5f; // above 1 stays: EXR is not clamped
    img.pixel(1, 0)[3] = 0.5f;
    fs::path path = scratch("lin.exr");
    writeImage(img, path.string());
    Imf::RgbaInputFile in(path.c_str());
    std::vector<Imf::Rgba> px(2);
    in.setFrameBuffer(px.data(), 1, 2);
    in.readPixels(0, 0);
    EXPECT_EQ(static_cast<float>(px[0].r), 2.5f);
    EXPECT_EQ(static_cast<float>(px[1].a), 0.5f);
}

TEST(ImageTest, UnwritablePathFailsNamingItAndLeavesNothing) {
    Image img(1, 1);
    fs::path dir = scratch("no_such_dir");
    std::string path = (dir / "out.png").string();
    try {
        writeImage(img, path);
        FAIL() << "expected an ImageError";
    } catch (const ImageError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(dir));
}

TEST(ImageTest, FailedWriteKeepsTheOldFileAndNoTemporary) {
    // A destination that is a folder cannot be replaced: the old contents stay and the
    // temporary file is gone.
    fs::path dir = scratch("occupied.png");
    fs::create_directories(dir);
    Image img(1, 1);
    EXPECT_THROW(writeImage(img, dir.string()), ImageError);
    EXPECT_TRUE(fs::is_directory(dir));
    for (const auto& e : fs::directory_iterator(dir.parent_path()))
        EXPECT_EQ(e.path().filename().string().find(".occupied.png.tmp"), std::string::npos);
}

TEST(ImageTest, UnknownExtensionIsRefused) {
    Image img(1, 1);
    EXPECT_THROW(writeImage(img, scratch("x.bmp").string()), ImageError);
    EXPECT_FALSE(fs::exists(scratch("x.bmp")));
}

} // namespace
} // namespace velquin::renderer
