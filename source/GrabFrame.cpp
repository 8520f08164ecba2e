#include "media/MediaDetector.h"
#include "source/FrameBitmap.h"

#include <vector>

bool GrabFrame(media::TMediaDetector& detector, TFrameBitmap& bitmap, uint16_t width, uint16_t height,
               double seconds) {
    // First the size, then the pixels: the detector decodes nothing for the size query.
    std::size_t size = 0;
    if (!detector.GetBitmapBits(seconds, &size, nullptr, width, height) || size == 0) return false;
    std::vector<uint8_t> buffer(size);
    std::size_t filled = size;
    if (!detector.GetBitmapBits(seconds, &filled, buffer.data(), width, height)) return false;
    // Only a buffer the detector reports as filled becomes a picture.
    return bitmap.FromPackedDib(buffer.data(), filled);
}
