#include "ImageReaders.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

extern "C" {
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

namespace {
struct TJpegErr {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
};
void JpegExit(j_common_ptr c) { std::longjmp(reinterpret_cast<TJpegErr*>(c->err)->Jump, 1); }

bool DecodeJpeg(FILE* f, TDecodedImage& img) {
    jpeg_decompress_struct cinfo{};
    TJpegErr err;
    cinfo.err = jpeg_std_error(&err.Pub);
    err.Pub.error_exit = JpegExit;
    if (setjmp(err.Jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    img.Components = cinfo.num_components;
    img.Progressive = cinfo.progressive_mode;
    img.Jfif = cinfo.saw_JFIF_marker;
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    img.Width = static_cast<int>(cinfo.output_width);
    img.Height = static_cast<int>(cinfo.output_height);
    img.Rgb.resize(static_cast<size_t>(img.Width) * img.Height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = img.Rgb.data() + static_cast<size_t>(cinfo.output_scanline) * img.Width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}
}  // namespace

TDecodedImage ReadJpeg(const std::string& path) {
    TDecodedImage img;
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) {
        img.Error = "cannot open";
        return img;
    }
    if (!DecodeJpeg(f.get(), img)) img.Error = "not a JPEG";
    // Baseline: the frame header is SOF0 (FF C0).
    const auto bytes = ReadBytes(path);
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) img.Baseline = true;
    return img;
}

TDecodedImage ReadPng(const std::string& path) {
    TDecodedImage img;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        img.Error = image.message;
        return img;
    }
    img.Components = (image.format & PNG_FORMAT_FLAG_COLOR) ? 3 : 1;
    image.format = PNG_FORMAT_RGB;
    img.Width = static_cast<int>(image.width);
    img.Height = static_cast<int>(image.height);
    img.Rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, img.Rgb.data(), 0, nullptr)) img.Error = image.message;
    png_image_free(&image);
    return img;
}

TDecodedImage ReadGif(const std::string& path) {
    TDecodedImage img;
    int err = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &err);
    if (!gif) {
        img.Error = "cannot open GIF";
        return img;
    }
    if (DGifSlurp(gif) != GIF_OK) {
        img.Error = "cannot read GIF";
    } else {
        img.GifImages = gif->ImageCount;
        img.Width = gif->SWidth;
        img.Height = gif->SHeight;
        const SavedImage& s = gif->SavedImages[0];
        const ColorMapObject* map = s.ImageDesc.ColorMap ? s.ImageDesc.ColorMap : gif->SColorMap;
        for (int i = 0; map && i < map->ColorCount; ++i) {
            img.Palette.push_back(map->Colors[i].Red);
            img.Palette.push_back(map->Colors[i].Green);
            img.Palette.push_back(map->Colors[i].Blue);
        }
        const size_t n = static_cast<size_t>(s.ImageDesc.Width) * s.ImageDesc.Height;
        img.Indices.assign(s.RasterBits, s.RasterBits + n);
        for (uint8_t idx : img.Indices) {
            img.Rgb.push_back(img.Palette[idx * 3]);
            img.Rgb.push_back(img.Palette[idx * 3 + 1]);
            img.Rgb.push_back(img.Palette[idx * 3 + 2]);
        }
    }
    DGifCloseFile(gif, &err);
    return img;
}

namespace {
uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

TDecodedImage ReadBmp(const std::string& path) {
    TDecodedImage img;
    const auto b = ReadBytes(path);
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') {
        img.Error = "not a BMP";
        return img;
    }
    img.Width = static_cast<int>(Le32(&b[18]));
    img.Height = static_cast<int>(Le32(&b[22]));
    const size_t stride = (static_cast<size_t>(img.Width) * 3 + 3) & ~size_t{3};
    const size_t off = Le32(&b[10]);
    if (b.size() < off + stride * img.Height) {
        img.Error = "short BMP";
        return img;
    }
    img.Rgb.resize(static_cast<size_t>(img.Width) * img.Height * 3);
    for (int y = 0; y < img.Height; ++y) {
        const uint8_t* src = &b[off + stride * (img.Height - 1 - y)];
        for (int x = 0; x < img.Width; ++x) {
            uint8_t* d = &img.Rgb[(static_cast<size_t>(y) * img.Width + x) * 3];
            d[0] = src[3 * x + 2];
            d[1] = src[3 * x + 1];
            d[2] = src[3 * x];
        }
    }
    return img;
}
}  // namespace

TDecodedImage ReadPicture(const std::string& path) {
    const std::string ext = path.substr(path.size() - 3);
    if (ext == "jpg") return ReadJpeg(path);
    if (ext == "png") return ReadPng(path);
    if (ext == "gif") return ReadGif(path);
    if (ext == "bmp") return ReadBmp(path);
    TDecodedImage img;
    img.Error = "unknown extension";
    return img;
}
