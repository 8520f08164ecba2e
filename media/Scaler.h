// The one picture scaler of the engine: size, pixel format and colour
// conversion of decoded pictures, for the preview and for every output.
// Private to media/ (FFmpeg types).
//
// Every destination is a picture that FFmpeg allocated itself
// (av_frame_get_buffer: aligned rows plus padding), never a buffer of ours
// sized to the exact picture: the scaler's vector code writes whole blocks
// and may run past a row's last pixel. Callers copy out of the picture in
// their own code.
//
// Colour: the source's range (the JPEG-range formats, or a frame tagged full
// range) and matrix (BT.601, BT.709, ...) are honoured; YUV destinations get
// the range they are asked for and carry it as a tag.
#pragma once

#include "media/AvPtr.h"

namespace media {

// The interpolation every picture of the program is made with, preview and
// output alike, so that the same frame at the same size is the same picture
// wherever it is shown or written (the filter also shapes chroma upsampling,
// so it matters even at the movie's own size).
constexpr int kPictureScaleFlags = SWS_BICUBIC;

class TScaler {
public:
    TScaler() = default;

    // A new picture of width x height in format `format` holding `src`.
    // fullRange: for YUV destinations, full-range levels instead of video
    // levels (ignored for RGB, which is always full range).
    // Throws MediaError when the conversion is not possible.
    AvFramePtr Scale(const AVFrame* src, int width, int height, AVPixelFormat format, bool fullRange = false);

private:
    struct TKey {
        int SrcW = 0, SrcH = 0, SrcFormat = -1, SrcRange = -1, SrcSpace = -1;
        int DstW = 0, DstH = 0, DstFormat = -1, DstRange = -1;
        bool operator==(const TKey&) const = default;
    };
    int FFlags = kPictureScaleFlags;
    TKey FKey;
    SwsContextPtr FContext;
};

// The plain YUV format of a JPEG-range one (yuvj420p -> yuv420p ...); sets
// *fullRange when it was one. Other formats come back unchanged.
AVPixelFormat PlainPixelFormat(AVPixelFormat f, bool* fullRange);

}  // namespace media
