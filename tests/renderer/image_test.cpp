#include "renderer/Image.h"

#include <gtest/gtest.h>

#include <OpenEXR/ImfRgbaFile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
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
