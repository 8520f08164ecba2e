// The media detector: the stream list and packed bitmaps over the movie reader.
#include "media/MediaDetector.h"

#include "media/MovieReader.h"

#include <cmath>
#include <cstring>

namespace media {

namespace {

constexpr uint64_t kMaxBitmapBytes = 256ull << 20;  // refuse larger output bitmaps

uint64_t BitmapBytes(int width, int height) {
    const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t(3);
    return kBitmapInfoHeaderSize + stride * static_cast<uint64_t>(height);
}

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

}  // namespace

struct TMediaDetector::TImpl {
    TMovieReader Reader;
    std::string Error;
    int Current = -1;
};

TMediaDetector::TMediaDetector() : Impl(std::make_unique<TImpl>()) {}
TMediaDetector::~TMediaDetector() = default;

bool TMediaDetector::put_Filename(const std::string& path) {
    Impl->Error.clear();
    const bool ok = Impl->Reader.Open(path);
    if (!ok) Impl->Error = Impl->Reader.LastError();
    Impl->Current = Impl->Reader.StreamCount() > 0 ? 0 : -1;
    return ok;
}

const std::string& TMediaDetector::Filename() const { return Impl->Reader.FileName(); }

int TMediaDetector::get_OutputStreams() const { return Impl->Reader.StreamCount(); }

bool TMediaDetector::put_CurrentStream(int index) {
    if (index < 0 || index >= get_OutputStreams()) return false;
    Impl->Current = index;
    return true;
}

int TMediaDetector::get_CurrentStream() const { return Impl->Current; }

int TMediaDetector::get_VideoStream() const { return Impl->Reader.Facts().VideoStream; }

TMajorType TMediaDetector::get_StreamType() const { return Impl->Reader.StreamType(Impl->Current); }

double TMediaDetector::get_StreamLength() const { return Impl->Reader.StreamLength(Impl->Current); }

double TMediaDetector::get_FrameRate() const { return Impl->Reader.StreamFrameRate(Impl->Current); }
int64_t TMediaDetector::get_FrameCount() const { return Impl->Reader.Facts().FrameCount; }
double TMediaDetector::get_PositionTime(double position) const { return Impl->Reader.TimeOfPosition(position); }

TMediaTypeInfo TMediaDetector::get_StreamMediaType() const { return Impl->Reader.StreamMediaType(Impl->Current); }

std::string TMediaDetector::PictureSizeProblem() const { return Impl->Reader.PictureSizeProblem(Impl->Current); }

bool TMediaDetector::GetBitmapBits(double streamTime, std::size_t* bufferSize, uint8_t* buffer, int width,
                                   int height) {
    TImpl& d = *Impl;
    d.Error.clear();
    if (!bufferSize) {
        d.Error = "No size was given for the bitmap.";
        return false;
    }
    if (d.Current < 0) {
        d.Error = "No movie is open.";
        return false;
    }
    if (width <= 0 || height <= 0 || BitmapBytes(width, height) > kMaxBitmapBytes) {
        d.Error = "A picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels is not possible.";
        return false;
    }
    const std::size_t needed = static_cast<std::size_t>(BitmapBytes(width, height));
    if (!buffer) {
        // The size needs no decoding, but the stream must be one that gives pictures.
        const TMediaTypeInfo type = d.Reader.StreamMediaType(d.Current);
        if (type.MajorType != TMajorType::Video) {
            d.Error = "The current stream is not a video stream.";
            return false;
        }
        if (type.Width <= 0 || type.Height <= 0 || BitmapBytes(type.Width, type.Height) > kMaxBitmapBytes) {
            d.Error = "The movie's frame size " + std::to_string(type.Width) + " x " + std::to_string(type.Height) +
                      " is not usable.";
            return false;
        }
        if (!std::isfinite(streamTime)) {
            d.Error = "The time of the frame is not a number.";
            return false;
        }
        *bufferSize = needed;
        return true;
    }
    if (*bufferSize < needed) {
        d.Error = "The bitmap buffer is too small.";
        return false;
    }
    TRgbPicture picture;
    if (!GetPicture(streamTime, width, height, picture)) return false;
    // Bottom-up BGR rows padded to 4 bytes.
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t(3);
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    uint8_t* pixels = buffer + kBitmapInfoHeaderSize;
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = picture.Row(y);
        uint8_t* dst = pixels + stride * static_cast<std::size_t>(height - 1 - y);
        for (std::size_t x = 0; x < row; x += 3) {
            dst[x] = src[x + 2];
            dst[x + 1] = src[x + 1];
            dst[x + 2] = src[x];
        }
        std::memset(dst + row, 0, stride - row);
    }
    uint8_t* h = buffer;
    std::memset(h, 0, kBitmapInfoHeaderSize);
    PutLe32(h, kBitmapInfoHeaderSize);
    PutLe32(h + 4, uint32_t(width));
    PutLe32(h + 8, uint32_t(height));  // positive: bottom-up rows
    PutLe16(h + 12, 1);
    PutLe16(h + 14, 24);
    PutLe32(h + 16, 0);  // BI_RGB
    PutLe32(h + 20, uint32_t(needed - kBitmapInfoHeaderSize));
    *bufferSize = needed;
    return true;
}

bool TMediaDetector::GetPicture(double streamTime, int width, int height, TRgbPicture& out) {
    TImpl& d = *Impl;
    d.Error.clear();
    if (d.Current < 0) {
        d.Error = "No movie is open.";
        return false;
    }
    TMovieReader::TPictureRequest request;
    request.Stream = d.Current;
    request.Seconds = streamTime;
    request.Width = width;
    request.Height = height;
    if (d.Reader.PictureAt(request, out)) return true;
    d.Error = d.Reader.LastError();
    return false;
}

const std::string& TMediaDetector::LastError() const { return Impl->Error; }

TMediaDetector::TStats TMediaDetector::Stats() const {
    const TMovieReader::TStats s = Impl->Reader.Stats();
    return TStats{s.Seeks, s.FramesDecoded};
}

TMovieReader& TMediaDetector::Reader() { return Impl->Reader; }

}  // namespace media
