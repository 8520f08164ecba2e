#include "media/Scaler.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <new>

namespace media {

AVPixelFormat PlainPixelFormat(AVPixelFormat f, bool* fullRange) {
    switch (f) {
        case AV_PIX_FMT_YUVJ420P: *fullRange = true; return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P: *fullRange = true; return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P: *fullRange = true; return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P: *fullRange = true; return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P: *fullRange = true; return AV_PIX_FMT_YUV411P;
        default: return f;
    }
}

namespace {

bool IsRgb(AVPixelFormat f) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    return d && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
}

// libswscale's coefficient table for a stream's matrix; BT.601 when untagged.
int SwsSpace(int colorspace) {
    switch (colorspace) {
        case AVCOL_SPC_BT709: return SWS_CS_ITU709;
        case AVCOL_SPC_FCC: return SWS_CS_FCC;
        case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
        default: return SWS_CS_DEFAULT;
    }
}

// Planar YUV to planar YUV with more chroma samples (4:2:0 to 4:2:2 ...).
bool AddsChroma(AVPixelFormat src, AVPixelFormat dst) {
    const AVPixFmtDescriptor* s = av_pix_fmt_desc_get(src);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(dst);
    if (!s || !d || IsRgb(src) || IsRgb(dst) || s->nb_components < 3 || d->nb_components < 3 ||
        !(s->flags & AV_PIX_FMT_FLAG_PLANAR) || !(d->flags & AV_PIX_FMT_FLAG_PLANAR))
        return false;
    return d->log2_chroma_w <= s->log2_chroma_w && d->log2_chroma_h <= s->log2_chroma_h &&
           (d->log2_chroma_w < s->log2_chroma_w || d->log2_chroma_h < s->log2_chroma_h);
}

}  // namespace

bool SameMatrix(int a, int b) { return SwsSpace(a) == SwsSpace(b); }

void TScaler::Convert(TStage& stage, const TKey& key, const AVFrame* src, AVFrame* dst) {
    if (!stage.Context || !(key == stage.Key)) {
        // The ranges are options of the context before it is set up: set
        // afterwards, a conversion between formats of the same layout would
        // stay a plain copy and ignore them.
        const int srcRange = key.SrcRange || IsRgb(AVPixelFormat(key.SrcFormat));
        const int dstRange = key.DstRange || IsRgb(AVPixelFormat(key.DstFormat));
        stage.Context.reset(sws_alloc_context());
        if (!stage.Context) throw std::bad_alloc();
        SwsContext* c = stage.Context.get();
        bool ok = av_opt_set_int(c, "srcw", key.SrcW, 0) >= 0 && av_opt_set_int(c, "srch", key.SrcH, 0) >= 0 &&
                  av_opt_set_int(c, "src_format", key.SrcFormat, 0) >= 0 &&
                  av_opt_set_int(c, "dstw", key.DstW, 0) >= 0 && av_opt_set_int(c, "dsth", key.DstH, 0) >= 0 &&
                  av_opt_set_int(c, "dst_format", key.DstFormat, 0) >= 0 &&
                  av_opt_set_int(c, "sws_flags", key.Flags, 0) >= 0 &&
                  av_opt_set_int(c, "src_range", srcRange, 0) >= 0 &&
                  av_opt_set_int(c, "dst_range", dstRange, 0) >= 0 && sws_init_context(c, nullptr, nullptr) >= 0;
        if (ok) {
            int* invTable = nullptr;
            int* table = nullptr;
            int r0 = 0, r1 = 0, brightness = 0, contrast = 0, saturation = 0;
            ok = sws_getColorspaceDetails(c, &invTable, &r0, &table, &r1, &brightness, &contrast, &saturation) < 0 ||
                 sws_setColorspaceDetails(c, sws_getCoefficients(SwsSpace(key.SrcSpace)), srcRange,
                                          sws_getCoefficients(SwsSpace(key.DstSpace)), dstRange, brightness, contrast,
                                          saturation) >= 0;
        }
        if (!ok) {
            stage.Context.reset();
            throw MediaError("The movie's pictures can not be converted to the size or format wanted.");
        }
        stage.Key = key;
    }
    const int rows = sws_scale(stage.Context.get(), src->data, src->linesize, 0, key.SrcH, dst->data, dst->linesize);
    if (rows != key.DstH) throw MediaError("The movie's picture could not be scaled.");
}

AvFramePtr TScaler::Scale(const AVFrame* src, int width, int height, AVPixelFormat format, bool fullRange,
                          AVColorSpace matrix) {
    if (!src || src->width <= 0 || src->height <= 0 || width <= 0 || height <= 0)
        throw MediaError("The picture has no usable size.");
    bool srcFull = false, dstFull = false;
    const AVPixelFormat srcFormat = PlainPixelFormat(static_cast<AVPixelFormat>(src->format), &srcFull);
    const AVPixelFormat dstFormat = PlainPixelFormat(format, &dstFull);
    if (src->color_range == AVCOL_RANGE_JPEG) srcFull = true;
    dstFull = dstFull || fullRange;
    const bool srcRgb = IsRgb(srcFormat), dstRgb = IsRgb(dstFormat);
    // The matrix of the new picture (YUV destinations).
    const AVColorSpace dstSpace = matrix != AVCOL_SPC_UNSPECIFIED ? matrix
                                  : srcRgb                        ? AVCOL_SPC_BT470BG
                                                                  : src->colorspace;

    auto allocate = [](int w, int h, AVPixelFormat f) {
        AvFramePtr p = MakeFrame();
        p->width = w;
        p->height = h;
        p->format = f;
        CheckRc(av_frame_get_buffer(p.get(), 0), "Allocating a picture");
        return p;
    };
    AvFramePtr out = allocate(width, height, format);
    // At the same size and an even height, libswscale's direct YUV to RGB
    // conversion (the preview's) repeats each chroma sample; a conversion to
    // YUV with more chroma samples does the same, so that the written picture
    // turns into the preview's (odd heights take the filtered path there too).
    const bool repeatChroma = width == src->width && height == src->height && height % 2 == 0;
    const TKey direct{src->width, src->height, srcFormat, srcFull, src->colorspace,
                      width,      height,      dstFormat, dstFull, dstRgb ? int(AVCOL_SPC_RGB) : int(dstSpace),
                      repeatChroma && AddsChroma(srcFormat, dstFormat) ? SWS_POINT : FFlags};
    if (!srcRgb && !dstRgb && !SameMatrix(src->colorspace, dstSpace)) {
        // YUV to YUV in another matrix: through the RGB picture the preview
        // would show (8 bits, as it is shown, so the written picture turns
        // back into it as closely as the quantisation allows).
        AvFramePtr rgb = allocate(width, height, AV_PIX_FMT_RGB24);
        TKey toRgb = direct;
        toRgb.DstFormat = AV_PIX_FMT_RGB24;
        toRgb.DstRange = 1;
        toRgb.DstSpace = AVCOL_SPC_RGB;
        toRgb.Flags = FFlags;
        Convert(FFirst, toRgb, src, rgb.get());
        // Back to YUV, each chroma sample the mean of the pixels it stands for.
        const TKey fromRgb{width, height, AV_PIX_FMT_RGB24, 1, AVCOL_SPC_RGB, width, height, dstFormat, dstFull, dstSpace,
                           repeatChroma ? SWS_AREA : FFlags};
        Convert(FSecond, fromRgb, rgb.get(), out.get());
    } else {
        Convert(FFirst, direct, src, out.get());
    }
    if (!dstRgb) {
        out->color_range = dstFull ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        out->colorspace = dstSpace;
    }
    out->pts = src->pts;
    return out;
}

}  // namespace media
