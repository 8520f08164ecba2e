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
// range) and matrix (BT.601, BT.709, ...; BT.601 when untagged) are honoured;
// YUV destinations get the range and matrix they are asked for and carry
// them as tags.
#pragma once

#include "media/AvPtr.h"

namespace media {

// The interpolation every picture of the program is made with, preview and
// output alike, so that the same frame at the same size is the same picture
// wherever it is shown or written (the filter also shapes chroma upsampling,
// so it matters even at the movie's own size).
constexpr int kPictureScaleFlags = SWS_BICUBIC;

// How a stream's pictures are shown: turned by the stream's display rotation
// and drawn at its display aspect ratio.
struct TPictureShape {
    int Rotation = 0;                 // clockwise degrees: 0, 90, 180 or 270
    AVRational SampleAspect{0, 1};    // of the stored pixels; 0 / 1 (or 1 / 1): square pixels

    bool Turned() const { return Rotation == 90 || Rotation == 270; }
};

// The shape of a stream's pictures: the display matrix (side data; turned to
// the nearest quarter turn, mirroring ignored) and the sample aspect ratio the
// container or, failing that, the codec states.
TPictureShape ShapeOfStream(const AVStream* stream);

// The size of a stored picture as it is shown: turned, and widened (or made
// taller) to its display aspect ratio (the longer side grows; at least 1 x 1).
void ShownSize(const TPictureShape& shape, int storedWidth, int storedHeight, int* width, int* height);

// Where a picture of aspect ratio `aspect` (width / height as shown) goes
// inside a width x height picture: the whole of it when the shapes agree
// within a pixel or 1 %, else fitted inside and centred, with bars on two
// sides. Offsets and sizes are multiples of (1 << alignW) across and
// (1 << alignH) down.
struct TPlacement {
    int X = 0, Y = 0, Width = 0, Height = 0;
};
TPlacement PlaceInside(double aspect, int width, int height, int alignW = 0, int alignH = 0);

class TScaler {
public:
    TScaler() = default;
    // Another interpolation, for pictures that only stand in for a moment.
    explicit TScaler(int flags) : FFlags(flags) {}

    // A new picture of width x height in format `format` holding `src`.
    // For YUV destinations (ignored for RGB, which is always full range):
    //  - fullRange: full-range levels instead of video levels;
    //  - matrix: the matrix the picture is made in; AVCOL_SPC_UNSPECIFIED
    //    keeps a YUV source's own (its tag, untagged stays untagged) and makes
    //    an RGB or palette source BT.601. A YUV source in another matrix is
    //    converted through the RGB picture the preview would show at this
    //    size (libswscale's own way through RGB, taken when the two matrices
    //    differ, lands further from the preview).
    // At the source's own size and an even height, YUV to YUV with more
    // chroma samples (4:2:0 to 4:2:2 ...) repeats them, as the conversion to
    // RGB for the preview does there, so that the output shows the preview's
    // picture.
    // shape: the source turned by its rotation and kept at its display aspect
    // ratio; when the size has another shape, the picture is fitted inside it
    // with black bars (PlaceInside), never stretched.
    // Throws MediaError when the conversion is not possible.
    AvFramePtr Scale(const AVFrame* src, int width, int height, AVPixelFormat format, bool fullRange = false,
                     AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED, const TPictureShape& shape = {});

private:
    struct TKey {
        int SrcW = 0, SrcH = 0, SrcFormat = -1, SrcRange = -1, SrcSpace = -1;
        int DstW = 0, DstH = 0, DstFormat = -1, DstRange = -1, DstSpace = -1;
        int Flags = 0;
        bool operator==(const TKey&) const = default;
    };
    // One libswscale context, made again when the conversion changes.
    struct TStage {
        TKey Key;
        SwsContextPtr Context;
    };
    // Two stages: one conversion, or one through RGB.
    struct TStages {
        TStage First, Second;
    };
    // Converts src into the allocated picture dst with stage's context.
    void Convert(TStage& stage, const TKey& key, const AVFrame* src, AVFrame* dst);
    // Scale without turning or bars.
    AvFramePtr ScalePlain(TStages& stages, const AVFrame* src, int width, int height, AVPixelFormat format,
                          bool fullRange, AVColorSpace matrix);

    int FFlags = kPictureScaleFlags;
    TStages FMain;     // the source to the picture (before turning)
    TStages FAfter;    // a turned picture into a format that can not be turned itself
};

// True for the libswscale coefficient tables of two matrices being the same
// (an untagged matrix counts as BT.601).
bool SameMatrix(int a, int b);

// The plain YUV format of a JPEG-range one (yuvj420p -> yuv420p ...); sets
// *fullRange when it was one. Other formats come back unchanged.
AVPixelFormat PlainPixelFormat(AVPixelFormat f, bool* fullRange);

}  // namespace media
