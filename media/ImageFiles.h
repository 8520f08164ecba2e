// Image files: writers for the picture types of the capture batch and the
// snapshot. Each writer takes a 24-bit RGB picture (TRgbPicture), writes it
// to a temporary file in the target's folder and renames that into place, so
// a failed write never leaves a partial file under the final name (an older
// file of that name stays untouched until the rename replaces it).
// Errors are raised as ECaptureError with a message fit for the user.
// No Qt: paths are UTF-8 (the bytes the file system takes).
#pragma once

#include "media/MovieReader.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace media {

class ECaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Picture types as the settings dialog's list holds them.
enum TPictureType : uint16_t { ptGif = 0, ptJpg = 1, ptBmp = 2, ptPng = 3 };

// "gif", "jpg", "bmp", "png"; nullptr for an unknown type.
const char* PictureExtension(uint16_t pictureType);

// Baseline JFIF JPEG, colour, at `quality` on the IJG 1..100 scale (clamped).
void WriteJpegFile(const std::string& path, const TRgbPicture& bitmap, int quality);

// Truecolour PNG, 8 bits per sample, at the zlib level PngZlibLevel(pngStep).
void WritePngFile(const std::string& path, const TRgbPicture& bitmap, int pngStep);

// The PNG quality step (0 "Small, low" .. 9 "Large, good") as a zlib level:
// 9 - step, so step 0 gives the smallest files (level 9) and step 9 the
// fastest writing (level 0, stored). Steps outside 0..9 are clamped.
int PngZlibLevel(int pngStep);

// One LZW-coded GIF image (GIF87a, global 256-entry colour table of which the
// first 216 entries are the fixed palette, the rest black), no dithering.
void WriteGifFile(const std::string& path, const TRgbPicture& bitmap);

// The fixed palette: entry 36 r + 6 g + b has levels r, g, b times 51.
// A channel value v (0..255) maps to the level floor((v + 3) / 51).
inline uint8_t GifLevel(uint8_t v) { return static_cast<uint8_t>((v + 3) / 51); }
inline uint8_t GifPaletteIndex(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint8_t>(36 * GifLevel(r) + 6 * GifLevel(g) + GifLevel(b));
}

// Windows bitmap: "BM" file header, 40-byte BITMAPINFOHEADER, 24 bits per
// pixel, uncompressed, bottom-up BGR rows padded to a multiple of 4 bytes.
void WriteBmpFile(const std::string& path, const TRgbPicture& bitmap);

// Writes the file of the picture type (JPEG at jpegQuality, PNG at pngStep).
void WritePictureFile(const std::string& path, const TRgbPicture& bitmap, uint16_t pictureType,
                      int jpegQuality, int pngStep);

}  // namespace media
