// The GIF and WebP animations of the render engine (TOutputFormat::Gif and
// WebP): their frame rate, size, encoders and writers, and the GIF's palette.
//
// A GIF shows at most 256 colours a frame. Its palette is made from the
// clip's own frames by libavfilter's palettegen, and the frames are mapped to
// it by paletteuse with the chosen dithering (media/FilterGraph): one palette
// for the whole clip, or one per scene (a new one where a frame differs from
// the one before by a cut). palettegen needs every frame of its span before
// the first can be mapped, so the frames of a span wait in memory; a span
// that would hold more than kGifSpanBytes of pictures ends there and the next
// frames get a palette of their own.
//
// Private to media/ (FFmpeg types).
#pragma once

#include "media/EncoderChoice.h"
#include "media/RenderEngine.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <string>

namespace media {

struct TVideoPath;

constexpr int64_t kGifSpanBytes = int64_t(384) << 20;

bool IsAnimFormat(TOutputFormat f);
const char* AnimMuxer(TOutputFormat f);    // "gif", "webp"
const char* AnimEncoder(TOutputFormat f);  // "gif", "libwebp_anim"
const char* AnimFriendly(TOutputFormat f);
// Throws MediaError with a sentence for the user when the choices are out of range.
void CheckAnimOptions(const TAnimOptions& o);
// What the scaler makes for the encoder: BGRA for the GIF's palette filters,
// YUV 4:2:0 for libwebp.
AVPixelFormat AnimScaledFormat(TOutputFormat f);
// The animation's colours: GIF pictures are RGB; WebP's YUV is read as BT.601 at video range.
TOutputColour AnimColour(TOutputFormat f);
// The clip's rate and size: o.Width (0: the source's) with the height by the
// picture's shape, both rounded to even numbers.
void ShapeAnimVideo(TVideoPath& v, const TAnimOptions& o, const AVStream* ist);
// After the common set-up, before opening: the encoder's own options.
void SetUpAnimEncoder(AVCodecContext* enc, TOutputFormat f, const TAnimOptions& o);
// The writer's options (loop).
void SetAnimMuxerOptions(AVDictionary** options, TOutputFormat f, const TAnimOptions& o);
// The palette filters' chain for the GIF (split, palettegen, paletteuse).
std::string GifPaletteChain(const TAnimOptions& o);
// Whether frame b starts a new scene after frame a (both BGRA of one size):
// their mean difference over a grid of samples passes a cut's.
bool SceneChanged(const AVFrame* a, const AVFrame* b);

}  // namespace media
