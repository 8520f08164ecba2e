#include "source/FrameBitmap.h"

#include "media/MediaTypes.h"

#include <cstdlib>

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Larger pictures than this are refused rather than allocated.
constexpr uint64_t kMaxPixels = 16384ull * 16384ull / 4;

}  // namespace

bool TFrameBitmap::FromPackedDib(const uint8_t* dib, std::size_t size) {
    if (!dib || size < std::size_t(media::kBitmapInfoHeaderSize)) return false;
    const uint32_t headerSize = Le32(dib);
    const int32_t w = int32_t(Le32(dib + 4));
    const int32_t h = int32_t(Le32(dib + 8));
    const uint16_t planes = Le16(dib + 12), bits = Le16(dib + 14);
    const uint32_t compression = Le32(dib + 16);
    const uint32_t colours = Le32(dib + 32);
    if (headerSize != uint32_t(media::kBitmapInfoHeaderSize) || planes != 1 || bits != 24 || compression != 0 ||
        colours != 0)
        return false;
    if (w <= 0 || h == 0 || h == INT32_MIN) return false;
    const uint64_t absH = uint64_t(std::abs(int64_t(h)));
    if (uint64_t(w) * absH > kMaxPixels) return false;
    const uint64_t stride = (uint64_t(w) * 3 + 3) & ~uint64_t(3);
    if (uint64_t(size) - media::kBitmapInfoHeaderSize < stride * absH) return false;

    std::vector<uint8_t> rgb(static_cast<std::size_t>(uint64_t(w) * absH * 3));
    const uint8_t* pixels = dib + media::kBitmapInfoHeaderSize;
    for (uint64_t y = 0; y < absH; ++y) {
        const uint64_t srcRow = h > 0 ? absH - 1 - y : y;
        const uint8_t* src = pixels + srcRow * stride;
        uint8_t* dst = rgb.data() + y * uint64_t(w) * 3;
        for (int32_t x = 0; x < w; ++x) {
            dst[x * 3] = src[x * 3 + 2];
            dst[x * 3 + 1] = src[x * 3 + 1];
            dst[x * 3 + 2] = src[x * 3];
        }
    }
    Width = w;
    Height = int(absH);
    Rgb = std::move(rgb);
    return true;
}
