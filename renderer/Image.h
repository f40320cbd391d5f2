// The rendered picture and its files: linear RGBA floats in memory, written as PNG (sRGB, 8-bit)
// or EXR (linear, half floats with alpha), chosen by the file name's extension.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velquin::renderer {

// Failure to write or read an image file; the message names the path and the reason.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<float> rgba; // row 0 at the top, four floats per pixel, linear

    Image() = default;
    Image(int w, int h) : width(w), height(h), rgba(static_cast<std::size_t>(w) * h * 4, 0.0f) {}
    float* pixel(int x, int y) { return &rgba[(static_cast<std::size_t>(y) * width + x) * 4]; }
    const float* pixel(int x, int y) const {
        return &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
    }
};

enum class ImageFormat { Png, Exr };

// The format a path asks for by its extension (case-insensitive); false for any other.
bool imageFormatFor(const std::string& path, ImageFormat& format);

// Linear to sRGB 8-bit, with the value clamped to [0, 1] and rounded to nearest.
std::uint8_t toSrgb8(float linear);
// The same by its formula (a pow a call), which toSrgb8 reads from a table; for tests.
std::uint8_t toSrgb8Direct(float linear);

// Writes the image to `path`. The file is first written beside its destination under a
// temporary name and renamed into place only when complete, so a failure leaves no partial
// file. A PNG is compressed on up to `threads` threads; its bytes are the same for any count.
// Throws ImageError naming the path.
void writeImage(const Image& image, const std::string& path, int threads = 1);

// Removes the temporary file writeImage is filling at this moment, if any. Only for a signal
// handler that ends the program at once: it is async-signal-safe and does nothing else, so an
// interrupted write leaves neither a partial image under its name nor a stray temporary file.
void removePendingImageFile() noexcept;

// Reads an 8-bit RGBA PNG (as written by writeImage) back into bytes; for tests and reference
// comparisons. Throws ImageError.
std::vector<std::uint8_t> readPng8(const std::string& path, int& width, int& height);

// The pixels writeImage puts into a PNG for this image (RGBA, 8-bit, sRGB).
std::vector<std::uint8_t> toPng8(const Image& image);

// The whole PNG file writeImage writes for this image, compressed on up to `threads` threads:
// the same bytes for any count. Throws ImageError for an image PNG cannot hold.
std::vector<std::uint8_t> encodePng(const Image& image, int threads = 1);

} // namespace velquin::renderer
