// Which encoder, pixel format, colour and web options a render uses: the
// choices the render engine makes for each written stream. Private to media/
// (FFmpeg types).
#pragma once

#include "media/AvPtr.h"
#include "media/Scaler.h"
#include "media/RenderEngine.h"

#include <string>
#include <utility>

namespace media {

// A fresh encoder context by FFmpeg name; throws MediaError when this
// installation lacks it.
AvCodecContextPtr NewEncoder(const std::string& name, const AVCodec** codecOut);
// Opens the encoder; throws MediaError naming the compressor (`friendly`) and
// the settings it refused. `what` is "video" or "audio".
void OpenEncoder(AVCodecContext* ctx, const AVCodec* codec, const std::string& friendly, const std::string& what);
// Adds the output stream of an open encoder.
AVStream* AddStream(AVFormatContext* out, AVCodecContext* enc);

// Lossless compressors (Huffyuv, FFV1, Ut Video, ZMBV...) by what FFmpeg says
// of their format; one that can also be lossy (H.264) is not counted.
bool IsLosslessEncoder(const AVCodec* codec);
// The encoder's format closest to the source's, so that a lossless output
// keeps the decoded pictures as they are where it can: RGB and palette
// sources stay RGB (the encoder gets no palette: it may change from frame to
// frame), YUV sources keep their subsampling when the encoder has it.
// Formats the scaler can not write or the size does not fit are left out;
// AV_PIX_FMT_NONE when none is left.
AVPixelFormat ClosestEncoderFormat(const AVCodec* codec, AVPixelFormat source, int width, int height);

// The colour of a written video stream: its levels, matrix and the tags.
struct TOutputColour {
    bool FullRange = false;
    AVColorSpace Matrix = AVCOL_SPC_BT470BG;
    AVColorPrimaries Primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic Transfer = AVCOL_TRC_UNSPECIFIED;
};
// RGB outputs are full range. YUV outputs keep the source's range and matrix
// where the stream can say so (a JPEG-range format is full range by itself);
// elsewhere their pictures are made in what readers take without a tag:
// video range, BT.601. RGB and palette sources go to YUV in BT.601.
TOutputColour ChooseOutputColour(const AVCodecParameters* src, AVPixelFormat out, AVCodecID encoder);
// The colour of MP4 and WebM clips: BT.709 at video range.
inline const TOutputColour kWebColour{false, AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709};
// An MP4 clip that keeps the source's colour description (TWebOptions::
// KeepSourceColour): its matrix, range, primaries and transfer where
// FallbackKeepsColour says so; BT.709 otherwise.
TOutputColour KeptSourceColour(const AVCodecParameters* src);

// The rate the encoder takes closest to `wanted`.
int ClosestSampleRate(const AVCodec* codec, int wanted);

// The frame size a 0 x 0 video asks for: the source's picture as it is
// shown (turned, at its display aspect ratio), rounded down to even sizes.
std::pair<int, int> SourcePictureSize(const AVStream* st, const TPictureShape& shape);

bool IsWebFormat(TOutputFormat f);

// The encoders and limits of the MP4 and WebM files.
struct TWebCodecs {
    const char* Muxer;
    const char* Video;           // FFmpeg encoder names
    const char* VideoFriendly;
    const char* Audio;
    const char* AudioFriendly;
    int DefaultCrf, MaxCrf;
    const char* DefaultPreset;
    int DefaultKbps, MinKbps, MaxKbps;
};
const TWebCodecs& WebCodecs(TOutputFormat f);

// The H.264 or VP9 encoder of an MP4 or WebM file: constant quality, 4:2:0
// pictures made and tagged in BT.709 at video range, all cores.
void SetUpWebVideoEncoder(AVCodecContext* enc, TOutputFormat f, const TWebOptions& o);
// The AAC or Opus encoder of an MP4 or WebM file: the source's channels up to
// stereo, AAC at the source's rate where it has it (else the closest), Opus at 48 kHz.
void SetUpWebAudioEncoder(AVCodecContext* enc, TOutputFormat f, const TWebOptions& o, const AVCodecParameters* src);

}  // namespace media
