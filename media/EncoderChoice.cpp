#include "media/EncoderChoice.h"

#include "media/RenderGraph.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace media {

AvCodecContextPtr NewEncoder(const std::string& name, const AVCodec** codecOut) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec) throw MediaError("The encoder " + Quoted(name) + " is not available in this installation.");
    AvCodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) throw std::bad_alloc();
    *codecOut = codec;
    return ctx;
}

void OpenEncoder(AVCodecContext* ctx, const AVCodec* codec, const std::string& friendly, const std::string& what) {
    int rc = avcodec_open2(ctx, codec, nullptr);
    if (rc < 0)
        throw MediaError("The " + what + " compressor " + Quoted(friendly) + " can not take these settings (" + what +
                         (ctx->codec_type == AVMEDIA_TYPE_VIDEO
                              ? " " + std::to_string(ctx->width) + " x " + std::to_string(ctx->height)
                              : " " + std::to_string(ctx->sample_rate) + " Hz") +
                         "): " + AvErrorText(rc));
}

AVStream* AddStream(AVFormatContext* out, AVCodecContext* enc) {
    AVStream* st = avformat_new_stream(out, nullptr);
    if (!st) throw std::bad_alloc();
    CheckRc(avcodec_parameters_from_context(st->codecpar, enc), "Setting up the output stream");
    st->time_base = enc->time_base;
    return st;
}

// Lossless compressors (Huffyuv, FFV1, Ut Video, ZMBV...) by what FFmpeg says
// of their format; one that can also be lossy (H.264) is not counted.
bool IsLosslessEncoder(const AVCodec* codec) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec->id);
    return d && (d->props & AV_CODEC_PROP_LOSSLESS) && !(d->props & AV_CODEC_PROP_LOSSY);
}

// RGB and palette pictures (a palette shows RGB colours).
static bool ShowsAsRgb(AVPixelFormat f) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    return d && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
}

// Whether pictures of width x height fit the format's chroma subsampling.
static bool FitsSize(AVPixelFormat f, int width, int height) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    return d && ((width >> d->log2_chroma_w) << d->log2_chroma_w) == width &&
           ((height >> d->log2_chroma_h) << d->log2_chroma_h) == height;
}

// The encoder's format closest to the source's, so that a lossless output
// keeps the decoded pictures as they are where it can: RGB and palette
// sources stay RGB (the encoder gets no palette: it may change from frame to
// frame), YUV sources keep their subsampling when the encoder has it.
// Formats the scaler can not write or the size does not fit are left out;
// AV_PIX_FMT_NONE when none is left.
AVPixelFormat ClosestEncoderFormat(const AVCodec* codec, AVPixelFormat source, int width, int height) {
    std::vector<AVPixelFormat> list;
    for (const AVPixelFormat* p = codec->pix_fmts; p && *p != AV_PIX_FMT_NONE; ++p) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(*p);
        if (!d || (d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL)) || !sws_isSupportedOutput(*p) ||
            !FitsSize(*p, width, height))
            continue;
        list.push_back(*p);
    }
    if (list.empty()) return AV_PIX_FMT_NONE;
    list.push_back(AV_PIX_FMT_NONE);
    bool full = false;
    AVPixelFormat from = PlainPixelFormat(source, &full);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(from);
    if (!d) return list.front();
    if (d->flags & AV_PIX_FMT_FLAG_PAL) from = AV_PIX_FMT_RGB24;
    return avcodec_find_best_pix_fmt_of_list(list.data(), from, 0, nullptr);
}

// What a compressor's own stream tells its reader about colour. AVI and ASF
// carry nothing of their own, so this is all a player learns; without a
// tag, readers take video range and BT.601. (Checked with ffprobe on what
// this FFmpeg writes; Motion JPEG's JPEG-range formats stand for full range
// and BT.601 by themselves.)
namespace {
struct TCarriedColour {
    bool Range = false;      // full or video range
    bool Bt709 = false;      // BT.709 besides BT.601
    bool AnyMatrix = false;  // every matrix
};
}  // namespace
static TCarriedColour CarriedColour(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_H264: return {true, true, true};     // the stream's video usability information
        case AV_CODEC_ID_UTVIDEO: return {false, true, false};  // its FourCC: ULY* BT.601, ULH* BT.709
        default: return {};
    }
}


// RGB outputs are full range. YUV outputs keep the source's range and matrix
// where the stream can say so (a JPEG-range format is full range by itself);
// elsewhere their pictures are made in what readers take without a tag:
// video range, BT.601. RGB and palette sources go to YUV in BT.601.
TOutputColour ChooseOutputColour(const AVCodecParameters* src, AVPixelFormat out, AVCodecID encoder) {
    TOutputColour c;
    const auto srcFormat = static_cast<AVPixelFormat>(src->format);
    const bool srcRgb = ShowsAsRgb(srcFormat);
    const bool keepTags = !srcRgb && !ShowsAsRgb(out);
    if (ShowsAsRgb(out)) {
        c.FullRange = true;
        c.Matrix = AVCOL_SPC_RGB;
    } else {
        const TCarriedColour carried = CarriedColour(encoder);
        bool srcFull = src->color_range == AVCOL_RANGE_JPEG, outFull = false;
        PlainPixelFormat(srcFormat, &srcFull);
        PlainPixelFormat(out, &outFull);
        c.FullRange = outFull || (carried.Range && !srcRgb && srcFull);
        const AVColorSpace m = src->color_space;
        if (srcRgb || m == AVCOL_SPC_UNSPECIFIED || m == AVCOL_SPC_RGB || m == AVCOL_SPC_RESERVED)
            c.Matrix = AVCOL_SPC_BT470BG;
        else if (SameMatrix(m, AVCOL_SPC_BT470BG) || carried.AnyMatrix ||
                 (carried.Bt709 && SameMatrix(m, AVCOL_SPC_BT709)))
            c.Matrix = m;
        else
            c.Matrix = AVCOL_SPC_BT470BG;
    }
    // Primaries and transfer do not change the pixels: the source's where it
    // names them and its matrix is kept, else those that go with the matrix.
    if ((keepTags && c.Matrix == src->color_space) || c.Matrix == AVCOL_SPC_RGB) {
        c.Primaries = src->color_primaries;
        c.Transfer = src->color_trc;
    }
    if (c.Primaries == AVCOL_PRI_UNSPECIFIED || c.Primaries == AVCOL_PRI_RESERVED || c.Primaries == AVCOL_PRI_RESERVED0)
        c.Primaries = c.Matrix == AVCOL_SPC_RGB || c.Matrix == AVCOL_SPC_BT709 ? AVCOL_PRI_BT709
                      : c.Matrix == AVCOL_SPC_SMPTE170M                      ? AVCOL_PRI_SMPTE170M
                                                                              : AVCOL_PRI_BT470BG;
    if (c.Transfer == AVCOL_TRC_UNSPECIFIED || c.Transfer == AVCOL_TRC_RESERVED || c.Transfer == AVCOL_TRC_RESERVED0)
        c.Transfer = c.Matrix == AVCOL_SPC_RGB     ? AVCOL_TRC_IEC61966_2_1
                     : c.Matrix == AVCOL_SPC_BT709 ? AVCOL_TRC_BT709
                                                   : AVCOL_TRC_SMPTE170M;
    return c;
}

int ClosestSampleRate(const AVCodec* codec, int wanted) {
    if (!codec->supported_samplerates) return wanted;
    int best = 0;
    for (const int* r = codec->supported_samplerates; *r; ++r) {
        if (*r == wanted) return wanted;
        if (!best || std::abs(*r - wanted) < std::abs(best - wanted)) best = *r;
    }
    return best ? best : wanted;
}

// The frame size a 0 x 0 video group asks for: the source's picture as it is
// shown (turned, at its display aspect ratio), rounded down to even sizes
// (4:2:0 pictures have whole chroma rows and columns).
std::pair<int, int> SourcePictureSize(const AVStream* st, const TPictureShape& shape) {
    if (st->codecpar->width <= 0 || st->codecpar->height <= 0) return {0, 0};
    int w = 0, h = 0;
    ShownSize(shape, st->codecpar->width, st->codecpar->height, &w, &h);
    return {std::max(2, w & ~1), std::max(2, h & ~1)};
}

bool IsWebFormat(TOutputFormat f) { return f == TOutputFormat::Mp4 || f == TOutputFormat::WebM; }

const TWebCodecs& WebCodecs(TOutputFormat f) {
    static const TWebCodecs mp4{"mp4", "libx264", "H.264", "aac", "AAC", 23, 51, "veryfast", 128, 16, 512};
    static const TWebCodecs webm{"webm", "libvpx-vp9", "VP9", "libopus", "Opus", 33, 63, "4", 96, 6, 510};
    return f == TOutputFormat::Mp4 ? mp4 : webm;
}

const char* const kX264Presets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                    "medium",    "slow",      "slower",   "veryslow", "placebo"};


// An MP4 clip that keeps the source's colour description (TWebOptions::
// KeepSourceColour): its matrix, range, primaries and transfer where
// FallbackKeepsColour says so; BT.709 otherwise.
TOutputColour KeptSourceColour(const AVCodecParameters* src) {
    const AVColorSpace m = src->color_space;
    if (!FallbackKeepsColour(src)) return kWebColour;
    TOutputColour c{src->color_range == AVCOL_RANGE_JPEG, m, src->color_primaries, src->color_trc};
    if (c.Primaries == AVCOL_PRI_UNSPECIFIED || c.Primaries == AVCOL_PRI_RESERVED || c.Primaries == AVCOL_PRI_RESERVED0)
        c.Primaries = m == AVCOL_SPC_BT709 ? AVCOL_PRI_BT709 : m == AVCOL_SPC_BT2020_NCL ? AVCOL_PRI_BT2020
                      : m == AVCOL_SPC_SMPTE170M ? AVCOL_PRI_SMPTE170M : AVCOL_PRI_BT470BG;
    if (c.Transfer == AVCOL_TRC_UNSPECIFIED || c.Transfer == AVCOL_TRC_RESERVED || c.Transfer == AVCOL_TRC_RESERVED0)
        c.Transfer = m == AVCOL_SPC_BT709 ? AVCOL_TRC_BT709 : m == AVCOL_SPC_BT2020_NCL ? AVCOL_TRC_BT2020_10
                                                                                     : AVCOL_TRC_SMPTE170M;
    return c;
}

void CheckWebOptions(TOutputFormat f, const TWebOptions& o) {
    if (!IsWebFormat(f)) return;
    const TWebCodecs& c = WebCodecs(f);
    if (o.Crf != -1 && (o.Crf < 0 || o.Crf > c.MaxCrf))
        throw MediaError(std::string("The ") + c.VideoFriendly + " quality (CRF) must be from 0 to " +
                         std::to_string(c.MaxCrf) + ", not " + std::to_string(o.Crf) + ".");
    if (!o.Preset.empty()) {
        if (f == TOutputFormat::Mp4) {
            if (std::find(std::begin(kX264Presets), std::end(kX264Presets), o.Preset) == std::end(kX264Presets))
                throw MediaError("The H.264 preset " + Quoted(o.Preset) +
                                 " is not known; choose ultrafast, superfast, veryfast, faster, fast, medium, slow, "
                                 "slower, veryslow or placebo.");
        } else if (o.Preset.size() != 1 || o.Preset[0] < '0' || o.Preset[0] > '8') {
            throw MediaError("The VP9 speed (cpu-used) must be a digit from 0 to 8, not " + Quoted(o.Preset) + ".");
        }
    }
    if (o.AudioKbps != 0 && (o.AudioKbps < c.MinKbps || o.AudioKbps > c.MaxKbps))
        throw MediaError(std::string("The ") + c.AudioFriendly + " bit rate must be from " + std::to_string(c.MinKbps) +
                         " to " + std::to_string(c.MaxKbps) + " kb/s, not " + std::to_string(o.AudioKbps) + ".");
}

static void SetEncoderOption(AVCodecContext* enc, const char* key, const std::string& value) {
    const int rc = av_opt_set(enc->priv_data, key, value.c_str(), 0);
    if (rc < 0)
        throw MediaError("The " + std::string(enc->codec->name) + " encoder does not take " + key + " = " + value +
                         ": " + AvErrorText(rc));
}

// The H.264 or VP9 encoder of an MP4 or WebM file: constant quality, 4:2:0
// pictures made and tagged in BT.709 at video range, all cores. H.264 keeps
// its B-frames (MP4 stores the reordering).
void SetUpWebVideoEncoder(AVCodecContext* enc, TOutputFormat f, const TWebOptions& o) {
    const TWebCodecs& c = WebCodecs(f);
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->color_range = AVCOL_RANGE_MPEG;
    enc->colorspace = AVCOL_SPC_BT709;
    enc->color_primaries = AVCOL_PRI_BT709;
    enc->color_trc = AVCOL_TRC_BT709;
    const int crf = o.Crf >= 0 ? o.Crf : c.DefaultCrf;
    const std::string preset = o.Preset.empty() ? c.DefaultPreset : o.Preset;
    SetEncoderOption(enc, "crf", std::to_string(crf));
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (f == TOutputFormat::Mp4) {
        SetEncoderOption(enc, "preset", preset);
        enc->thread_count = 0;  // x264 chooses by the cores
    } else {
        enc->bit_rate = 0;  // with a CRF: constant quality, no bit rate target
        SetEncoderOption(enc, "deadline", "good");
        SetEncoderOption(enc, "cpu-used", preset);
        SetEncoderOption(enc, "row-mt", "1");
        // Tiles at least 256 pixels wide, as many as the cores can use.
        int log2Tiles = 0;
        while (log2Tiles < 6 && (enc->width >> (log2Tiles + 1)) >= 256 && (1 << log2Tiles) < cores) ++log2Tiles;
        SetEncoderOption(enc, "tile-columns", std::to_string(log2Tiles));
        enc->thread_count = std::min(cores, 16);
    }
}

// The AAC or Opus encoder of an MP4 or WebM file: the source's channels up to
// stereo (stereo without a source), AAC at the source's rate where it has it
// (else the closest), Opus at 48 kHz.
void SetUpWebAudioEncoder(AVCodecContext* enc, TOutputFormat f, const TWebOptions& o, const AVCodecParameters* src) {
    const TWebCodecs& c = WebCodecs(f);
    const int channels = src && src->ch_layout.nb_channels > 0 ? std::min(2, src->ch_layout.nb_channels) : 2;
    av_channel_layout_uninit(&enc->ch_layout);
    av_channel_layout_default(&enc->ch_layout, channels);
    const int rate = src && src->sample_rate > 0 ? src->sample_rate : 48000;
    enc->sample_rate = f == TOutputFormat::WebM ? 48000 : ClosestSampleRate(enc->codec, rate);
    enc->sample_fmt = enc->codec->sample_fmts ? enc->codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    enc->bit_rate = int64_t(o.AudioKbps > 0 ? o.AudioKbps : c.DefaultKbps) * 1000;
}

}  // namespace media
