#include "media/Scaler.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

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

}  // namespace

AvFramePtr TScaler::Scale(const AVFrame* src, int width, int height, AVPixelFormat format, bool fullRange) {
    if (!src || src->width <= 0 || src->height <= 0 || width <= 0 || height <= 0)
        throw MediaError("The picture has no usable size.");
    bool srcFull = false, dstFull = false;
    const AVPixelFormat srcFormat = PlainPixelFormat(static_cast<AVPixelFormat>(src->format), &srcFull);
    const AVPixelFormat dstFormat = PlainPixelFormat(format, &dstFull);
    if (src->color_range == AVCOL_RANGE_JPEG) srcFull = true;
    dstFull = dstFull || fullRange;

    const TKey key{src->width, src->height, srcFormat, srcFull, src->colorspace, width, height, dstFormat, dstFull};
    if (!FContext || !(key == FKey)) {
        FContext.reset(sws_getContext(src->width, src->height, srcFormat, width, height, dstFormat, FFlags, nullptr,
                                      nullptr, nullptr));
        if (!FContext) throw MediaError("The movie's pictures can not be converted to the size or format wanted.");
        const int* coefficients = sws_getCoefficients(SwsSpace(src->colorspace));
        int* invTable = nullptr;
        int* table = nullptr;
        int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(FContext.get(), &invTable, &srcRange, &table, &dstRange, &brightness, &contrast,
                                     &saturation) >= 0)
            // The context's own ranges already count grey and RGB as full range.
            sws_setColorspaceDetails(FContext.get(), coefficients, srcRange || srcFull, table, dstRange || dstFull,
                                     brightness, contrast, saturation);
        FKey = key;
    }

    AvFramePtr out = MakeFrame();
    out->width = width;
    out->height = height;
    out->format = format;
    CheckRc(av_frame_get_buffer(out.get(), 0), "Allocating a picture");
    const int rows = sws_scale(FContext.get(), src->data, src->linesize, 0, src->height, out->data, out->linesize);
    if (rows != height) throw MediaError("The movie's picture could not be scaled.");
    if (!IsRgb(dstFormat)) {
        // YUV to YUV keeps the source's matrix; RGB sources are converted with BT.601.
        out->color_range = dstFull ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        out->colorspace = IsRgb(srcFormat) ? AVCOL_SPC_BT470BG : src->colorspace;
    }
    out->pts = src->pts;
    return out;
}

}  // namespace media
