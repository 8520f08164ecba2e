// Independent readers for the tests: the image libraries' own decoders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TDecodedImage {
    int Width = 0;
    int Height = 0;
    int Components = 0;          // JPEG: number of components in the file
    bool Baseline = false;       // JPEG: SOF0 frame
    bool Progressive = false;    // JPEG
    bool Jfif = false;           // JPEG: JFIF APP0 marker
    std::vector<uint8_t> Rgb;    // top-down RGB
    std::vector<uint8_t> Indices;            // GIF: palette index per pixel
    std::vector<uint8_t> Palette;            // GIF: RGB triples of the colour map
    int GifImages = 0;
    std::string Error;           // empty when read
};

TDecodedImage ReadJpeg(const std::string& path);
TDecodedImage ReadPng(const std::string& path);
TDecodedImage ReadGif(const std::string& path);
std::vector<uint8_t> ReadBytes(const std::string& path);
// Reads any of the four types by the file's extension (BMP parsed by hand).
TDecodedImage ReadPicture(const std::string& path);
