#include "media/ImageFiles.h"

#include "media/StagedFile.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <memory>
#include <vector>

extern "C" {
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
}
namespace media {


namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// A new file beside the target, written first and renamed over the target by
// Commit() (TStagedFile). Until then the target is untouched; if
// Commit() is never reached the temporary file is removed.
class TTempFile {
public:
    explicit TTempFile(const std::string& target) : Target(target) {
        try {
            Staged = TStagedFile(target);
        } catch (const TStagedFileError& e) {
            if (e.Errno) Fail(e.Errno);
            Fail(e.what());
        }
        const int fd = Staged.Direct() ? ::open(target.c_str(), O_WRONLY | O_CLOEXEC) : ::dup(Staged.Fd());
        if (fd < 0) Fail(errno);
        File.reset(::fdopen(fd, "wb"));
        if (!File) {
            const int err = errno;
            ::close(fd);
            Fail(err);
        }
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    FILE* Stream() const { return File.get(); }

    // Raises the error of a failed write (a full disk shows up here at the latest).
    void Commit() {
        errno = 0;
        const bool failed = std::fflush(File.get()) != 0 || std::ferror(File.get());
        int err = errno;
        const int rc = std::fclose(File.release());
        if (!failed && rc != 0) err = errno;
        if (failed || rc != 0) Fail(err ? err : EIO);
        try {
            Staged.Commit();
        } catch (const TStagedFileError& e) {
            if (e.Errno) Fail(e.Errno);
            Fail(e.what());
        }
    }

    [[noreturn]] void Fail(int err) { Fail(ErrnoText(err)); }
    [[noreturn]] void Fail(const std::string& why) {
        throw ECaptureError("Can not write file " + Target + ": " + why);
    }

private:
    std::string Target;
    TStagedFile Staged;  // declared before File: the stream closes first
    FilePtr File;
};

void CheckBitmap(const std::string& path, const TRgbPicture& bitmap) {
    if (bitmap.Empty() ||
        bitmap.Rgb.size() < static_cast<std::size_t>(bitmap.Width) * bitmap.Height * 3)
        throw ECaptureError("Can not write file " + path + ": the picture is empty");
}

// ------------------------------------------------------------------ JPEG

// libjpeg's own error_exit ends the process; this one jumps back instead.
struct TJpegError {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->Message);
    std::longjmp(err->Jump, 1);
}
void JpegOutputMessage(j_common_ptr) {}

struct TJpegCompress {
    jpeg_compress_struct Info{};
    ~TJpegCompress() { jpeg_destroy_compress(&Info); }  // safe also before create (mem == NULL)
};

// Holds no object with a destructor between setjmp and the jumps back to it.
bool CompressJpeg(FILE* out, const TRgbPicture& bitmap, int quality, char* message) {
    TJpegCompress jpeg;
    TJpegError err;
    jpeg.Info.err = jpeg_std_error(&err.Pub);
    err.Pub.error_exit = JpegErrorExit;
    err.Pub.output_message = JpegOutputMessage;
    if (setjmp(err.Jump)) {
        std::memcpy(message, err.Message, JMSG_LENGTH_MAX);
        return false;
    }
    jpeg_create_compress(&jpeg.Info);
    jpeg_stdio_dest(&jpeg.Info, out);
    jpeg.Info.image_width = static_cast<JDIMENSION>(bitmap.Width);
    jpeg.Info.image_height = static_cast<JDIMENSION>(bitmap.Height);
    jpeg.Info.input_components = 3;
    jpeg.Info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&jpeg.Info);               // JFIF, YCbCr, baseline Huffman
    jpeg_set_quality(&jpeg.Info, quality, TRUE);  // TRUE: tables held to 8 bits (baseline)
    jpeg_start_compress(&jpeg.Info, TRUE);
    while (jpeg.Info.next_scanline < jpeg.Info.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(bitmap.Row(static_cast<int>(jpeg.Info.next_scanline)));
        jpeg_write_scanlines(&jpeg.Info, &row, 1);
    }
    jpeg_finish_compress(&jpeg.Info);
    return true;
}

// ------------------------------------------------------------------ PNG

struct TPngError {
    char Message[256];
};

void PngError(png_structp png, png_const_charp text) {
    auto* err = static_cast<TPngError*>(png_get_error_ptr(png));
    std::snprintf(err->Message, sizeof err->Message, "%s", text ? text : "PNG error");
    png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

struct TPngWrite {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    ~TPngWrite() {
        if (Png) png_destroy_write_struct(&Png, Info ? &Info : nullptr);
    }
};

bool CompressPng(FILE* out, const TRgbPicture& bitmap, int level, char* message) {
    TPngError err{};
    TPngWrite png;
    std::vector<png_bytep> rows(static_cast<std::size_t>(bitmap.Height));
    for (int y = 0; y < bitmap.Height; ++y) rows[y] = const_cast<png_bytep>(bitmap.Row(y));
    png.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, PngError, PngWarning);
    if (png.Png) png.Info = png_create_info_struct(png.Png);
    if (!png.Png || !png.Info) {
        std::snprintf(message, 256, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png.Png))) {
        std::memcpy(message, err.Message, sizeof err.Message);
        return false;
    }
    png_init_io(png.Png, out);
    png_set_IHDR(png.Png, png.Info, static_cast<png_uint_32>(bitmap.Width),
                 static_cast<png_uint_32>(bitmap.Height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png.Png, level);
    // Stored data gains nothing from row filters; skip their cost.
    if (level == 0) png_set_filter(png.Png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png.Png, png.Info);
    png_write_image(png.Png, rows.data());
    png_write_end(png.Png, nullptr);
    return true;
}

// ------------------------------------------------------------------ GIF

int GifWriteToFile(GifFileType* gif, const GifByteType* data, int length) {
    return static_cast<int>(std::fwrite(data, 1, static_cast<std::size_t>(length),
                                        static_cast<FILE*>(gif->UserData)));
}

struct GifCloser {
    void operator()(GifFileType* g) const {
        int err = 0;
        EGifCloseFile(g, &err);
    }
};
struct GifMapFreer {
    void operator()(ColorMapObject* m) const { GifFreeMapObject(m); }
};

std::string GifErrorText(int code) {
    const char* text = GifErrorString(code);
    return text ? text : "GIF error " + std::to_string(code);
}

}  // namespace

const char* PictureExtension(uint16_t pictureType) {
    switch (pictureType) {
        case ptGif: return "gif";
        case ptJpg: return "jpg";
        case ptBmp: return "bmp";
        case ptPng: return "png";
        default: return nullptr;
    }
}

int PngZlibLevel(int pngStep) {
    if (pngStep < 0) pngStep = 0;
    if (pngStep > 9) pngStep = 9;
    return 9 - pngStep;
}

void WriteJpegFile(const std::string& path, const TRgbPicture& bitmap, int quality) {
    CheckBitmap(path, bitmap);
    if (quality < 1) quality = 1;
    if (quality > 100) quality = 100;
    TTempFile file(path);
    char message[JMSG_LENGTH_MAX] = {0};
    if (!CompressJpeg(file.Stream(), bitmap, quality, message)) file.Fail(message);
    file.Commit();
}

void WritePngFile(const std::string& path, const TRgbPicture& bitmap, int pngStep) {
    CheckBitmap(path, bitmap);
    TTempFile file(path);
    char message[256] = {0};
    if (!CompressPng(file.Stream(), bitmap, PngZlibLevel(pngStep), message)) file.Fail(message);
    file.Commit();
}

void WriteGifFile(const std::string& path, const TRgbPicture& bitmap) {
    CheckBitmap(path, bitmap);
    if (bitmap.Width > 65535 || bitmap.Height > 65535)
        throw ECaptureError("Can not write file " + path + ": the picture is too large for GIF");
    TTempFile file(path);
    int err = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(EGifOpen(file.Stream(), GifWriteToFile, &err));
    if (!gif) file.Fail(GifErrorText(err));
    std::unique_ptr<ColorMapObject, GifMapFreer> map(GifMakeMapObject(256, nullptr));
    if (!map) file.Fail("out of memory");
    for (int i = 0; i < 256; ++i) {
        GifColorType& c = map->Colors[i];
        if (i < 216) {
            c.Red = static_cast<GifByteType>(i / 36 * 51);
            c.Green = static_cast<GifByteType>(i / 6 % 6 * 51);
            c.Blue = static_cast<GifByteType>(i % 6 * 51);
        } else {
            c.Red = c.Green = c.Blue = 0;
        }
    }
    EGifSetGifVersion(gif.get(), false);  // GIF87a: one image, no extensions
    if (EGifPutScreenDesc(gif.get(), bitmap.Width, bitmap.Height, 8, 0, map.get()) == GIF_ERROR ||
        EGifPutImageDesc(gif.get(), 0, 0, bitmap.Width, bitmap.Height, false, nullptr) == GIF_ERROR)
        file.Fail(GifErrorText(gif->Error));
    std::vector<GifPixelType> line(static_cast<std::size_t>(bitmap.Width));
    for (int y = 0; y < bitmap.Height; ++y) {
        const uint8_t* rgb = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width; ++x, rgb += 3) line[x] = GifPaletteIndex(rgb[0], rgb[1], rgb[2]);
        if (EGifPutLine(gif.get(), line.data(), bitmap.Width) == GIF_ERROR) file.Fail(GifErrorText(gif->Error));
    }
    int closeErr = 0;
    if (EGifCloseFile(gif.release(), &closeErr) == GIF_ERROR) file.Fail(GifErrorText(closeErr));
    file.Commit();
}

namespace {
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace

void WriteBmpFile(const std::string& path, const TRgbPicture& bitmap) {
    CheckBitmap(path, bitmap);
    const uint64_t stride = (static_cast<uint64_t>(bitmap.Width) * 3 + 3) & ~uint64_t{3};
    const uint64_t imageSize = stride * static_cast<uint64_t>(bitmap.Height);
    if (14 + 40 + imageSize > 0xFFFFFFFFu)
        throw ECaptureError("Can not write file " + path + ": the picture is too large for BMP");
    uint8_t header[14 + 40] = {0};
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, static_cast<uint32_t>(sizeof header + imageSize));  // file size
    Put32(header + 10, sizeof header);                                    // offset of the pixels
    uint8_t* info = header + 14;
    Put32(info + 0, 40);
    Put32(info + 4, static_cast<uint32_t>(bitmap.Width));
    Put32(info + 8, static_cast<uint32_t>(bitmap.Height));  // positive: bottom-up
    Put16(info + 12, 1);                                    // planes
    Put16(info + 14, 24);                                   // bits per pixel
    Put32(info + 16, 0);                                    // BI_RGB
    Put32(info + 20, static_cast<uint32_t>(imageSize));
    TTempFile file(path);
    FILE* out = file.Stream();
    if (std::fwrite(header, 1, sizeof header, out) != sizeof header) file.Fail(errno);
    std::vector<uint8_t> row(stride, 0);
    for (int y = bitmap.Height - 1; y >= 0; --y) {
        const uint8_t* rgb = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width; ++x, rgb += 3) {
            row[3 * x] = rgb[2];
            row[3 * x + 1] = rgb[1];
            row[3 * x + 2] = rgb[0];
        }
        if (std::fwrite(row.data(), 1, row.size(), out) != row.size()) file.Fail(errno);
    }
    file.Commit();
}

void WritePictureFile(const std::string& path, const TRgbPicture& bitmap, uint16_t pictureType,
                      int jpegQuality, int pngStep) {
    switch (pictureType) {
        case ptGif: WriteGifFile(path, bitmap); return;
        case ptJpg: WriteJpegFile(path, bitmap, jpegQuality); return;
        case ptBmp: WriteBmpFile(path, bitmap); return;
        case ptPng: WritePngFile(path, bitmap, pngStep); return;
        default: throw ECaptureError("Unknown picture type " + std::to_string(pictureType));
    }
}

}  // namespace media
