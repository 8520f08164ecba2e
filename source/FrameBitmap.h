// A frame fetched from a movie, as 24-bit RGB, top-down, tightly packed.
// Built from the detector's packed bitmap; used by the preview, the snapshot
// and the capture batch. No Qt type: the window converts it to an image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct TFrameBitmap {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgb;  // Height rows of Width * 3 bytes: R, G, B

    bool Empty() const { return Width <= 0 || Height <= 0 || Rgb.empty(); }
    const uint8_t* Row(int y) const { return Rgb.data() + static_cast<std::size_t>(y) * Width * 3; }

    // Fills the bitmap from a packed bitmap (40-byte BITMAPINFOHEADER, then
    // bottom-up 24-bit BGR rows padded to 4 bytes; a negative height means
    // top-down). Returns false and leaves the bitmap unchanged when the header
    // is not a 24-bit uncompressed bitmap or the buffer is too short.
    bool FromPackedDib(const uint8_t* dib, std::size_t size);
};

namespace media { class TMediaDetector; }

// The frame at `seconds` from the detector's current stream, scaled to
// width x height, into `bitmap`. False when the detector delivers no size or
// no pixels; the bitmap is then unchanged.
bool GrabFrame(media::TMediaDetector& detector, TFrameBitmap& bitmap,
               uint16_t width, uint16_t height, double seconds);
